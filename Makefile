# The two set-up commands of the README:
#   make run    installs what is missing, builds, runs dtvctl info
#   make test   installs what is missing, builds every checked
#               configuration and runs every test
# Other targets build or check one configuration.

JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60

.PHONY: run test deps deps-build host asan tsan fuzz windows test-host test-asan test-tsan test-fuzz test-windows bench clean

run: deps-build
	cmake --preset host >/dev/null
	cmake --build --preset host -j $(JOBS) --target dtvctl
	./build/dtvctl info

test: deps test-host test-asan test-tsan test-fuzz test-windows
	@echo "all checks passed"

deps:
	./scripts/install-deps.sh test

deps-build:
	./scripts/install-deps.sh build

host: deps
	cmake --preset host >/dev/null
	cmake --build --preset host -j $(JOBS)

test-host: host
	ctest --test-dir build --output-on-failure -j $(JOBS)

asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)

test-asan: asan
	ctest --test-dir build/asan --output-on-failure -j $(JOBS)

tsan: deps
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan -j $(JOBS)

# Under ThreadSanitizer every test of the driver that runs threads: the
# stress test, serialization, start-up, reads and cancellation (the death
# tests of the platform checks stay with the other builds).
test-tsan: tsan
	ctest --test-dir build/tsan --output-on-failure -L tsan

fuzz: deps
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS)

test-fuzz: fuzz
	./scripts/run-fuzzers.sh build/fuzz $(FUZZ_SECONDS)

windows: deps
	cmake --preset win32 >/dev/null
	cmake --build --preset win32 -j $(JOBS)
	cmake --preset win64 >/dev/null
	cmake --build --preset win64 -j $(JOBS)

test-windows: windows
	ctest --test-dir build/win32 --output-on-failure
	ctest --test-dir build/win64 --output-on-failure

bench: host
	./build/bench/analysis_bench
	./build/bench/capture_bench

clean:
	rm -rf build
