# parcelon_publish_headers(<target> <prefix> [<folder>])
#
# Gives <target> an include root of its own holding one link, <prefix>, to the
# folder of its headers (the current source folder unless <folder> is given),
# so that they are included as "<prefix>/Header.h". A target sees the headers
# of the libraries it links and no others: an include that reaches into a
# library higher up, or into one it does not link, fails to build.
function(parcelon_publish_headers target prefix)
  set(folder ${CMAKE_CURRENT_SOURCE_DIR})
  if(ARGC GREATER 2)
    set(folder ${ARGV2})
  endif()
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  set(link ${root}/${prefix})
  cmake_path(GET link PARENT_PATH parent)
  file(MAKE_DIRECTORY ${parent})
  if(NOT IS_SYMLINK ${link})
    file(CREATE_LINK ${folder} ${link} SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC ${root})
endfunction()
