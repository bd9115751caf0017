# Project-wide compiler settings applied to every target through one interface library.
add_library(parcelon_options INTERFACE)
target_compile_options(parcelon_options INTERFACE -Wall -Wextra -Wpedantic)
if(PARCELON_WERROR)
  target_compile_options(parcelon_options INTERFACE -Werror)
endif()
if(PARCELON_SANITIZE)
  target_compile_options(parcelon_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(parcelon_options INTERFACE -fsanitize=address,undefined)
endif()
if(PARCELON_FUZZ)
  target_compile_options(parcelon_options INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(parcelon_options INTERFACE -fsanitize=address,undefined)
endif()
target_compile_definitions(parcelon_options INTERFACE
  QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)
