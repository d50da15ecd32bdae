# Installing and packaging.
#
# The programs live beside their data in one folder, because the game finds
# its data next to its own executable (/proc/self/exe, which has every link
# resolved); the folder on the PATH holds relative links to them, so the
# tree works wherever it is unpacked. Nothing is ever written to the
# installed folder: settings, demos, results and learnt lines go to the
# player's XDG data home.
#
#   cmake --install build [--prefix DIR] [--strip]
#   cd build && cpack -G DEB

include(GNUInstallDirs)

# Installing and packaging take what the build made; they never build
# (cpack would otherwise build every target, tests and benchmarks included,
# before packaging).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(KESSRIG_INSTALL_GAMEDIR "lib/kessrig" CACHE STRING
    "Folder of the installed programs and their data, relative to the install prefix")
set(KESSRIG_PACKAGE_MAINTAINER "Kessrig developers <kessrig@example.invalid>" CACHE STRING
    "Maintainer field of the Debian package")
foreach(dir KESSRIG_INSTALL_GAMEDIR CMAKE_INSTALL_BINDIR)
  if(IS_ABSOLUTE "${${dir}}")
    message(FATAL_ERROR "${dir} must be relative to the install prefix (the links between them are relative)")
  endif()
endforeach()

# What a player or a server host runs; not the data generator, the picture
# tools, the benchmarks or the tests.
set(KESSRIG_INSTALLED_PROGRAMS kessrig-sim kessrig-server)
if(KESSRIG_GAME)
  list(PREPEND KESSRIG_INSTALLED_PROGRAMS kessrig)
endif()
install(TARGETS ${KESSRIG_INSTALLED_PROGRAMS} RUNTIME DESTINATION ${KESSRIG_INSTALL_GAMEDIR})

# The generated data: the archive and the track folders, with the racing
# lines the build taught the robots.
install(FILES ${KESSRIG_DATA_DIR}/zzzz.saf DESTINATION ${KESSRIG_INSTALL_GAMEDIR})
foreach(track ${KESSRIG_DEFAULT_TRACKS})
  install(DIRECTORY ${KESSRIG_DATA_DIR}/${track} DESTINATION ${KESSRIG_INSTALL_GAMEDIR}
          PATTERN "*.tmp" EXCLUDE)
endforeach()

# The links on the PATH, made once here and installed as links.
file(RELATIVE_PATH link_to /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${KESSRIG_INSTALL_GAMEDIR})
set(link_dir ${CMAKE_BINARY_DIR}/packaging/links)
file(MAKE_DIRECTORY ${link_dir})
foreach(program ${KESSRIG_INSTALLED_PROGRAMS})
  file(CREATE_LINK ${link_to}/${program} ${link_dir}/${program} SYMBOLIC)
  install(FILES ${link_dir}/${program} DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()

# The desktop entry (it also hands "kessrig:" links to the game) and the
# icon, drawn at each size rather than scaled.
if(KESSRIG_GAME)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/kessrig.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  set(icons)
  foreach(size 48 128 256)
    set(icon ${CMAKE_BINARY_DIR}/packaging/icons/${size}x${size}/kessrig.png)
    add_custom_command(
      OUTPUT ${icon}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging/icons/${size}x${size}
      COMMAND kessrig-icon ${icon} ${size}
      DEPENDS kessrig-icon
      COMMENT "Drawing the ${size}x${size} desktop icon"
      VERBATIM)
    list(APPEND icons ${icon})
    install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  add_custom_target(kessrig_icons ALL DEPENDS ${icons})
endif()

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kessrig)
set(CPACK_PACKAGE_VENDOR "Kessrig developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "motocross racing game with a physically simulated bike")
# One line of the control file each (Debian folds nothing itself).
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Ride a dirt bike, a small system of rigid bodies and joints, over"
    "height-field tracks: alone, against up to 39 robot riders, against a ghost"
    "of your best lap, or against other players through a race server"
    "(kessrig-server is included). Rides can be recorded as demos and played"
    "back, and the game is also the editor of its own tracks. kessrig-sim runs"
    "races and demos headless.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KESSRIG_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES TRUE)
# dpkg-shlibdeps names the exact library packages the programs link;
# without it the list is written out (Debian 12's names).
find_program(KESSRIG_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(KESSRIG_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, libode8, libnettle8, libpng16-16, zlib1g")
  if(KESSRIG_GAME)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libsdl2-2.0-0, libgl1")
  endif()
endif()
if(KESSRIG_GAME)
  # A GL driver to draw with; xdg-open shows the home folder.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libgl1-mesa-dri")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xdg-utils")
endif()
include(CPack)

# The package built, installed into a throwaway root, run from there and
# removed again. Plain builds only: sanitizer builds teach the robots no
# lines, and their programs are not what ships.
if(KESSRIG_TESTS AND KESSRIG_GAME AND KESSRIG_LEARN_LINES)
  add_test(NAME package COMMAND ${CMAKE_SOURCE_DIR}/scripts/package-test.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(package PROPERTIES LABELS package TIMEOUT 300)
endif()
