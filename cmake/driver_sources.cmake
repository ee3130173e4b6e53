# The driver's sources, shared by the host build and the Windows build, and
# the FPGA image embedded into its non-paged data.

get_filename_component(DTV_DRIVER_DIR ${CMAKE_CURRENT_LIST_DIR}/../driver ABSOLUTE)
set(DTV_DRIVER_SOURCES
  ${DTV_DRIVER_DIR}/adapter/capture_stream.cpp
  ${DTV_DRIVER_DIR}/adapter/descriptors.cpp
  ${DTV_DRIVER_DIR}/adapter/device_start.cpp
  ${DTV_DRIVER_DIR}/adapter/dispatch.cpp
  ${DTV_DRIVER_DIR}/adapter/driver_entry.cpp
  ${DTV_DRIVER_DIR}/adapter/request_queue.cpp
  ${DTV_DRIVER_DIR}/capture/align.cpp
  ${DTV_DRIVER_DIR}/capture/guide_collector.cpp
  ${DTV_DRIVER_DIR}/capture/read_pipeline.cpp
  ${DTV_DRIVER_DIR}/capture/section_filter.cpp
  ${DTV_DRIVER_DIR}/capture/video_probe.cpp
  ${DTV_DRIVER_DIR}/control/control_guids.cpp
  ${DTV_DRIVER_DIR}/control/device_events.cpp
  ${DTV_DRIVER_DIR}/usb/configure.cpp
  ${DTV_DRIVER_DIR}/usb/fpga_download.cpp
  ${DTV_DRIVER_DIR}/usb/submit.cpp
)

# Flags of every driver translation unit, whichever build.
set(DTV_DRIVER_COMPILE_OPTIONS
  -fno-exceptions -fno-rtti -fno-threadsafe-statics
  -Wall -Wextra -Werror
)

# Writes a C++ source holding the FPGA image as a constant byte array; refuses
# an image of any size other than the device's 55,024 bytes.
include(${CMAKE_CURRENT_LIST_DIR}/check_fpga_image.cmake)

function(dtv_generate_fpga_image out_var)
  set(image ${DTV_FPGA_IMAGE})
  dtv_check_fpga_image(${image})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${image})
  file(READ ${image} hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){16})" "\\1\n  " bytes "${bytes}")
  set(source ${CMAKE_BINARY_DIR}/generated/fpga_image.cpp)
  file(WRITE ${source}.tmp
    "// Generated from ${image} at configure time; do not edit.\n"
    "#include \"usb/usb_device.h\"\n\n"
    "extern const UCHAR FpgaImage[FpgaImageSize] = {\n  ${bytes}\n};\n")
  file(COPY_FILE ${source}.tmp ${source} ONLY_IF_DIFFERENT)
  set(${out_var} ${source} PARENT_SCOPE)
endfunction()
