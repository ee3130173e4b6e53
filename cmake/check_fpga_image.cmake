# Refuses an FPGA image that is not the device's 55,024 bytes.
# As a script: cmake -DIMAGE=path -P check_fpga_image.cmake
function(dtv_check_fpga_image image)
  if(NOT EXISTS ${image})
    message(FATAL_ERROR "FPGA image ${image} does not exist")
  endif()
  file(SIZE ${image} size)
  if(NOT size EQUAL 55024)
    message(FATAL_ERROR "FPGA image ${image} has ${size} bytes; the device takes exactly 55,024")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND DEFINED IMAGE)
  dtv_check_fpga_image(${IMAGE})
endif()
