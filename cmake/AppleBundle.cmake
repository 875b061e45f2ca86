# The macOS form of the plug-in: the bundle hosts load,
#
#   Ruvivedu.plugin/Contents/Info.plist            package type eFKT, signature FXTC
#   Ruvivedu.plugin/Contents/PkgInfo               the same two codes, "eFKTFXTC"
#   Ruvivedu.plugin/Contents/MacOS/Ruvivedu        the module, x86_64 and arm64
#   Ruvivedu.plugin/Contents/Resources/Ruvivedu.rsrc   the PiPL, compiled by Rez from the generated .r
#
# The PiPL's code properties name EntryPointFunc for both architectures
# (mi64, ma64), so one universal module serves Intel and Apple silicon hosts.
include_guard(GLOBAL)

set(RUVIVEDU_BUNDLE_IDENTIFIER "fx.tervane.ruvivedu" CACHE STRING "CFBundleIdentifier of Ruvivedu.plugin")
set(RUVIVEDU_CODESIGN_IDENTITY "-" CACHE STRING
    "Identity the bundle is signed with after each build ('-': ad-hoc, enough for local use; empty: unsigned)")

function(ruvivedu_add_bundle_resources target)
  set_target_properties(${target} PROPERTIES
    BUNDLE TRUE
    BUNDLE_EXTENSION plugin
    MACOSX_BUNDLE_INFO_PLIST ${PROJECT_SOURCE_DIR}/cmake/Info.plist.in
    MACOSX_BUNDLE_GUI_IDENTIFIER ${RUVIVEDU_BUNDLE_IDENTIFIER}
    MACOSX_BUNDLE_BUNDLE_NAME Ruvivedu
    MACOSX_BUNDLE_SHORT_VERSION_STRING ${PROJECT_VERSION}
    MACOSX_BUNDLE_BUNDLE_VERSION ${PROJECT_VERSION})
  if(NOT CMAKE_OSX_ARCHITECTURES)
    message(WARNING "Ruvivedu.plugin is built for ${CMAKE_SYSTEM_PROCESSOR} only; "
                    "set CMAKE_OSX_ARCHITECTURES=\"x86_64;arm64\" (the macos preset does) for both Mac hosts")
  endif()

  # PkgInfo: the bundle's type and creator codes, the same as Info.plist's.
  # Exactly 8 bytes, no newline; rewritten only when different, so a
  # reconfigure does not rebuild the bundle.
  set(pkginfo ${CMAKE_CURRENT_BINARY_DIR}/PkgInfo)
  set(pkginfo_text "")
  if(EXISTS ${pkginfo})
    file(READ ${pkginfo} pkginfo_text)
  endif()
  if(NOT pkginfo_text STREQUAL "eFKTFXTC")
    file(WRITE ${pkginfo} "eFKTFXTC")
  endif()
  target_sources(${target} PRIVATE ${pkginfo})
  set_source_files_properties(${pkginfo} PROPERTIES MACOSX_PACKAGE_LOCATION .)

  # The PiPL resource: Rez compiles the generated .r (raw data, no SDK
  # templates needed) into a data-fork resource file.
  find_program(RUVIVEDU_XCRUN xcrun)
  if(RUVIVEDU_XCRUN)
    set(rez_command ${RUVIVEDU_XCRUN} Rez)
  else()
    find_program(RUVIVEDU_REZ Rez REQUIRED)
    set(rez_command ${RUVIVEDU_REZ})
  endif()
  set(rsrc ${CMAKE_CURRENT_BINARY_DIR}/Ruvivedu.rsrc)
  add_custom_command(
    OUTPUT ${rsrc}
    COMMAND ${rez_command} -useDF -o ${rsrc} ${RUVIVEDU_REZ_FILE}
    DEPENDS ${RUVIVEDU_REZ_FILE} ruvivedu_resources
    COMMENT "Compiling the PiPL resource with Rez")
  target_sources(${target} PRIVATE ${rsrc})
  set_source_files_properties(${rsrc} PROPERTIES GENERATED TRUE MACOSX_PACKAGE_LOCATION Resources)

  if(RUVIVEDU_CODESIGN_IDENTITY)
    # arm64 code must carry a signature, and recent hosts may refuse unsigned
    # plug-ins: sign the whole bundle (module, Info.plist, resources) once it
    # is complete.
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND codesign --force --sign "${RUVIVEDU_CODESIGN_IDENTITY}" $<TARGET_BUNDLE_DIR:${target}>
      COMMENT "Signing Ruvivedu.plugin (${RUVIVEDU_CODESIGN_IDENTITY})")
  endif()
endfunction()
