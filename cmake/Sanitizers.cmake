# One sanitizer flavour per build tree. "address" pairs ASan with UBSan; "thread" is TSan.
# Any report aborts the process, so a sanitizer finding always fails its test.
if(PAVIX_SANITIZE STREQUAL "address")
  set(_san_flags -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
elseif(PAVIX_SANITIZE STREQUAL "thread")
  set(_san_flags -fsanitize=thread -fno-omit-frame-pointer)
elseif(NOT PAVIX_SANITIZE STREQUAL "none" AND NOT PAVIX_SANITIZE STREQUAL "OFF")
  message(FATAL_ERROR "PAVIX_SANITIZE must be none, address or thread")
endif()
if(_san_flags)
  add_compile_options(${_san_flags})
  add_link_options(${_san_flags})
endif()
