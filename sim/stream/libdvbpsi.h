// The libdvbpsi headers the stream code and its tests use. They rely on the
// fixed-width types, size_t and ssize_t without including their headers,
// so those come first here.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

// clang-format off
#include <dvbpsi/dvbpsi.h>
#include <dvbpsi/descriptor.h>
#include <dvbpsi/psi.h>
#include <dvbpsi/pat.h>
#include <dvbpsi/pmt.h>
#include <dvbpsi/sdt.h>
#include <dvbpsi/eit.h>
#include <dvbpsi/demux.h>
#include <dvbpsi/dr_48.h>
#include <dvbpsi/dr_4d.h>
// clang-format on
