# Windows build: Tonefork.exe, the Windows test executable and the small
# control tool that the end-to-end tests use to talk to the running program.
enable_language(RC)
tonefork_add_imgui()
tonefork_add_gtest()

set(TONEFORK_WIN_LIBS tonefork_imgui_headers ole32 oleaut32 uuid winmm avrt shell32 user32
    gdi32 advapi32 windowscodecs propsys comctl32)

add_library(tonefork_win STATIC ${TONEFORK_WIN_SOURCES})
target_include_directories(tonefork_win PUBLIC src)
target_compile_definitions(tonefork_win PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
target_link_libraries(tonefork_win PUBLIC tonefork_rules ${TONEFORK_WIN_LIBS})
tonefork_warnings(tonefork_win)

# What the About tab's "Website" and "Support" buttons open. Empty: the
# support section of the manual shipped beside the program.
set(TONEFORK_WEBSITE_LINK "" CACHE STRING "Address opened by the About tab's Website and Support buttons")
set_property(SOURCE src/ui/about_tab.cpp APPEND PROPERTY
  COMPILE_DEFINITIONS "TONEFORK_WEBSITE_LINK=\"${TONEFORK_WEBSITE_LINK}\"")

if(MINGW)
  # Only system DLLs at run time: the GCC runtime and winpthread go inside.
  set(TONEFORK_STATIC_RUNTIME -static -static-libgcc -static-libstdc++ $<$<CONFIG:Release>:-s>)
endif()

add_executable(Tonefork WIN32 ${TONEFORK_APP_MAIN} src/app/resources/tonefork.rc)
target_link_libraries(Tonefork PRIVATE tonefork_win tonefork_imgui)
target_link_options(Tonefork PRIVATE ${TONEFORK_STATIC_RUNTIME} $<$<BOOL:${MINGW}>:-municode>)
tonefork_warnings(Tonefork)

file(GLOB TONEFORK_WIN_TESTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/win/*.cpp)
add_executable(tonefork_win_tests ${TONEFORK_WIN_TESTS} tests/win/test_resources.rc)
target_include_directories(tonefork_win_tests PRIVATE tests/win src/app/resources)
target_link_libraries(tonefork_win_tests PRIVATE tonefork_win tonefork_imgui_probe gtest_main gmock)
target_link_options(tonefork_win_tests PRIVATE ${TONEFORK_STATIC_RUNTIME})
tonefork_warnings(tonefork_win_tests)

add_executable(tfctl tests/tools/tfctl.cpp)
target_compile_definitions(tfctl PRIVATE UNICODE _UNICODE)
target_link_options(tfctl PRIVATE ${TONEFORK_STATIC_RUNTIME} $<$<BOOL:${MINGW}>:-municode>)
target_link_libraries(tfctl PRIVATE user32)
tonefork_warnings(tfctl)

# The runnable program: dist/Tonefork/Tonefork.exe with assets/*.png beside it.
set(TONEFORK_DIST_DIR ${PROJECT_SOURCE_DIR}/dist/Tonefork CACHE PATH "Where the runnable program is laid out")
file(GLOB TONEFORK_ASSETS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/assets/*.png)
add_custom_target(dist ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${TONEFORK_DIST_DIR}/assets
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:Tonefork> ${TONEFORK_DIST_DIR}/Tonefork.exe
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${TONEFORK_ASSETS} ${TONEFORK_DIST_DIR}/assets/
  DEPENDS Tonefork ${TONEFORK_ASSETS}
  VERBATIM)

# The user manual beside the program, made from the user part of README.md.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  add_custom_command(OUTPUT ${TONEFORK_DIST_DIR}/manual.html
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TONEFORK_DIST_DIR}
    COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/scripts/make-manual.py
      ${PROJECT_SOURCE_DIR}/README.md ${TONEFORK_DIST_DIR}/manual.html
    DEPENDS ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/scripts/make-manual.py
    VERBATIM)
  add_custom_target(manual ALL DEPENDS ${TONEFORK_DIST_DIR}/manual.html)
else()
  message(WARNING "No Python 3: the manual (manual.html) is not made, and the About tab's links lead nowhere")
endif()

# The licences of the third-party code inside Tonefork.exe, read from where
# this build took that code: Debian's copyright files where the packages
# provide them, the upstream licence files otherwise.
set(_credits ${TONEFORK_DIST_DIR}/third-party-licenses.txt)
if(EXISTS ${TONEFORK_IMGUI_SOURCE_DIR}/debian/copyright)
  set(_imgui_licence ${TONEFORK_IMGUI_SOURCE_DIR}/debian/copyright)
  set(_credit_parts
    --part "Dear ImGui, with its Win32 and Direct3D 11 back-ends" ${_imgui_licence} "*"
    --part "stb_truetype, stb_rect_pack and stb_textedit, inside Dear ImGui" ${_imgui_licence} "imstb_*.h")
else()
  set(_imgui_licence ${TONEFORK_IMGUI_SOURCE_DIR}/LICENSE.txt)
  set(_credit_parts --part "Dear ImGui, with its Win32 and Direct3D 11 back-ends" ${_imgui_licence})
endif()
if(TONEFORK_JSON_DIR)
  set(_json_licence /usr/share/doc/nlohmann-json3-dev/copyright)
else()
  set(_json_licence ${tonefork_nlohmann_SOURCE_DIR}/LICENSE.MIT)
endif()
# Debian lists two files of the header with copyrights of their own.
list(APPEND _credit_parts --part "nlohmann JSON" ${_json_licence} "*"
  include/nlohmann/detail/conversions/to_chars.hpp include/nlohmann/detail/output/serializer.hpp)
set(_credit_sources ${_imgui_licence} ${_json_licence})
if(MINGW)
  # -static links the mingw-w64 start-up code and winpthreads into the exe;
  # their licences ask for their notices in what is shipped.
  set(_mingw_licence /usr/share/doc/mingw-w64-x86-64-dev/copyright)
  list(APPEND _credit_parts
    --part "mingw-w64 runtime and winpthreads" ${_mingw_licence} "*" "mingw-w64-crt/gdtoa/*"
      "mingw-w64-libraries/winpthreads/*" mingw-w64-libraries/winpthreads/include/pthread.h
    --note "GCC runtime (libstdc++, libgcc)"
      "Parts of the GCC runtime libraries are linked into Tonefork.exe under the GCC Runtime Library Exception, version 3.1, which asks for no notice.")
  list(APPEND _credit_sources ${_mingw_licence})
endif()
if(Python3_Interpreter_FOUND)
  add_custom_command(OUTPUT ${_credits}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TONEFORK_DIST_DIR}
    COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/scripts/make-credits.py ${_credits} ${_credit_parts}
    DEPENDS ${PROJECT_SOURCE_DIR}/scripts/make-credits.py ${_credit_sources}
    VERBATIM)
  add_custom_target(credits ALL DEPENDS ${_credits})
else()
  message(WARNING "No Python 3: the licence file (third-party-licenses.txt) is not made")
endif()

# The per-user installer beside the program folder, from the same files.
# It installs, and its uninstaller deletes, exactly the files listed here,
# each relative to the program folder: what the steps above put into
# dist/Tonefork, without what a run of the program leaves there (log.txt,
# imgui.ini).
set(_installed Tonefork.exe manual.html third-party-licenses.txt)
foreach(_asset ${TONEFORK_ASSETS})
  get_filename_component(_name ${_asset} NAME)
  list(APPEND _installed assets/${_name})
endforeach()
# NSIS lines that insert the macro named ACTION once for each path, written
# with Windows' separators.
function(tonefork_nsis_each out)
  set(lines "")
  foreach(path ${ARGN})
    string(REPLACE "/" "\\" path ${path})
    string(APPEND lines "  !insertmacro \${ACTION} \"${path}\"\n")
  endforeach()
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()
set(_folders "")
foreach(_file ${_installed})
  get_filename_component(_folder ${_file} DIRECTORY)
  while(NOT _folder STREQUAL "")
    list(APPEND _folders ${_folder})
    get_filename_component(_folder ${_folder} DIRECTORY)
  endwhile()
endforeach()
# A folder sorts before those inside it; reversed, the deepest come first,
# as a non-recursive RMDir needs them.
list(REMOVE_DUPLICATES _folders)
list(SORT _folders)
list(REVERSE _folders)
tonefork_nsis_each(TONEFORK_NSIS_FILES ${_installed})
tonefork_nsis_each(TONEFORK_NSIS_FOLDERS ${_folders})
set(_installed_nsh ${CMAKE_CURRENT_BINARY_DIR}/installed_files.nsh)
configure_file(installer/installed_files.nsh.in ${_installed_nsh} @ONLY)

find_program(TONEFORK_MAKENSIS makensis)
get_filename_component(_dist_parent ${TONEFORK_DIST_DIR} DIRECTORY)
set(TONEFORK_INSTALLER ${_dist_parent}/Tonefork-${PROJECT_VERSION}-setup.exe)
if(TONEFORK_MAKENSIS AND TARGET manual AND TARGET credits)
  set(_icon ${PROJECT_SOURCE_DIR}/src/app/resources/tonefork.ico)
  add_custom_command(OUTPUT ${TONEFORK_INSTALLER}
    COMMAND ${TONEFORK_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} -DDIST=${TONEFORK_DIST_DIR}
      -DFILES=${_installed_nsh} -DICON=${_icon} -DOUTFILE=${TONEFORK_INSTALLER}
      ${PROJECT_SOURCE_DIR}/installer/tonefork.nsi
    DEPENDS ${PROJECT_SOURCE_DIR}/installer/tonefork.nsi ${_installed_nsh} ${_icon} Tonefork ${TONEFORK_ASSETS}
      ${TONEFORK_DIST_DIR}/manual.html ${_credits}
    VERBATIM)
  add_custom_target(installer ALL DEPENDS ${TONEFORK_INSTALLER})
  add_dependencies(installer dist)
else()
  message(WARNING "No makensis (Debian package nsis) or no Python 3: the installer is not made")
endif()
