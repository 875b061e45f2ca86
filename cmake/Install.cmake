# cmake --install: the plug-in goes where the hosts look for plug-ins.
#
# Both hosts (the compositor and its sister editor) scan a shared plug-in
# folder as well as their own:
#   Windows  C:/Program Files/Adobe/Common/Plug-ins/7.0/MediaCore
#   macOS    /Library/Application Support/Adobe/Common/Plug-ins/7.0/MediaCore
# and the plug-in goes into a folder of its own there. RUVIVEDU_PLUGIN_INSTALL_DIR
# overrides it (a relative path is taken inside the install prefix). Linux has
# no host: the module and its PiPL go to lib/ruvivedu under the prefix, where
# the installed ruvivedu tool looks first.
include(GNUInstallDirs)

if(WIN32)
  set(ruvivedu_plugin_dir_default "C:/Program Files/Adobe/Common/Plug-ins/7.0/MediaCore/Ruvivedu")
elseif(APPLE)
  set(ruvivedu_plugin_dir_default "/Library/Application Support/Adobe/Common/Plug-ins/7.0/MediaCore/Ruvivedu")
else()
  set(ruvivedu_plugin_dir_default "lib/ruvivedu")
endif()
set(RUVIVEDU_PLUGIN_INSTALL_DIR "${ruvivedu_plugin_dir_default}" CACHE PATH
    "Folder the plug-in is installed into (the hosts' shared plug-in folder by default)")

if(APPLE)
  install(TARGETS ruvivedu_plugin BUNDLE DESTINATION "${RUVIVEDU_PLUGIN_INSTALL_DIR}" COMPONENT plugin)
else()
  install(TARGETS ruvivedu_plugin LIBRARY DESTINATION "${RUVIVEDU_PLUGIN_INSTALL_DIR}" COMPONENT plugin
                                  RUNTIME DESTINATION "${RUVIVEDU_PLUGIN_INSTALL_DIR}" COMPONENT plugin)
endif()
if(NOT WIN32 AND NOT APPLE)
  # The substitute host reads the PiPL beside the module.
  install(FILES ${RUVIVEDU_PIPL_FILE} DESTINATION "${RUVIVEDU_PLUGIN_INSTALL_DIR}" COMPONENT plugin)
endif()

if(TARGET ruvivedu)
  install(TARGETS ruvivedu RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
endif()

# The frei0r filter goes where ffmpeg and MLT both look: lib/frei0r-1 under
# the prefix (/usr/local/lib/frei0r-1 by default), not the multiarch library
# folder, which neither searches.
if(TARGET ruvivedu_frei0r)
  set(RUVIVEDU_FREI0R_INSTALL_DIR "lib/frei0r-1" CACHE PATH
      "Folder the frei0r filter is installed into (relative paths are inside the install prefix)")
  install(TARGETS ruvivedu_frei0r LIBRARY DESTINATION "${RUVIVEDU_FREI0R_INSTALL_DIR}" COMPONENT frei0r)
endif()
if(TARGET ruvivedu_oiio)
  # The installed tool looks for it in ../lib/ruvivedu.
  install(TARGETS ruvivedu_oiio LIBRARY DESTINATION lib/ruvivedu COMPONENT tool)
endif()
