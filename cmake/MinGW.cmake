# Windows builds with MinGW-w64: every binary carries its own C++ runtime, libgcc, winpthread and
# (in the loop strategy) OpenMP runtime, so a host loads Ruvivedu.aex with nothing beside it and the
# only DLLs it imports are Windows' own. -static makes the linker take the static archive of every
# library it can find one for; the Windows system libraries are import libraries and stay DLLs.
if(MINGW)
  add_link_options(-static-libgcc -static-libstdc++ -static)
  # Libraries found by path must be the static archives too: FindOpenMP would
  # otherwise name libgomp's import library (libgomp.dll.a) explicitly.
  set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
endif()
