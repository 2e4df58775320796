# Third-party code. On our Linux machines everything comes from Debian
# packages unpacked by scripts/deps.sh; a Windows developer without them gets
# the same versions through FetchContent.
include(FetchContent)

# nlohmann JSON 3.11: only its own folder is exposed, never the host's
# /usr/include (that would leak Linux headers into the Windows build).
set(TONEFORK_JSON_DIR "" CACHE PATH "Folder that holds nlohmann/json.hpp")
add_library(tonefork_json INTERFACE)
if(TONEFORK_JSON_DIR)
  set(_json_copy ${CMAKE_BINARY_DIR}/_deps/json-include)
  file(COPY ${TONEFORK_JSON_DIR}/nlohmann DESTINATION ${_json_copy})
  target_include_directories(tonefork_json SYSTEM INTERFACE ${_json_copy})
else()
  FetchContent_Declare(tonefork_nlohmann
    URL https://github.com/nlohmann/json/releases/download/v3.11.3/include.zip)
  FetchContent_MakeAvailable(tonefork_nlohmann)
  target_include_directories(tonefork_json SYSTEM INTERFACE ${tonefork_nlohmann_SOURCE_DIR}/include)
endif()

# GoogleTest, built from source by this project for every preset.
set(TONEFORK_GTEST_DIR "" CACHE PATH "GoogleTest source tree (Debian: /usr/src/googletest)")
function(tonefork_add_gtest)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  if(TONEFORK_GTEST_DIR)
    add_subdirectory(${TONEFORK_GTEST_DIR} ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL)
  else()
    FetchContent_Declare(tonefork_googletest
      URL https://github.com/google/googletest/archive/refs/tags/v1.12.1.tar.gz)
    FetchContent_MakeAvailable(tonefork_googletest)
  endif()
endfunction()

# Dear ImGui 1.92.2b with the Win32 and Direct3D 11 back-ends.
function(tonefork_add_imgui)
  set(TONEFORK_IMGUI_DIR "" CACHE PATH "Unpacked Dear ImGui 1.92.2b sources")
  set(dir ${TONEFORK_IMGUI_DIR})
  if(NOT dir)
    FetchContent_Declare(tonefork_imgui
      GIT_REPOSITORY https://github.com/ocornut/imgui.git GIT_TAG v1.92.2b)
    FetchContent_MakeAvailable(tonefork_imgui)
    set(dir ${tonefork_imgui_SOURCE_DIR})
  endif()
  # The licence file of the shipped program reads the library's licence there.
  set(TONEFORK_IMGUI_SOURCE_DIR ${dir} PARENT_SCOPE)
  # Headers, definitions and system libraries: what the program's own code
  # compiles against. Which build of the library is linked is the
  # executable's choice.
  add_library(tonefork_imgui_headers INTERFACE)
  target_include_directories(tonefork_imgui_headers SYSTEM INTERFACE ${dir} ${dir}/backends)
  # No gamepad navigation: the window is driven by mouse and keyboard, and
  # the back-end would otherwise load XInput and unload it at shutdown while
  # XInput's own polling thread may still run (a crash at exit under Wine).
  target_compile_definitions(tonefork_imgui_headers INTERFACE UNICODE _UNICODE IMGUI_IMPL_WIN32_DISABLE_GAMEPAD)
  target_link_libraries(tonefork_imgui_headers INTERFACE d3d11 d3dcompiler dxgi gdi32 dwmapi imm32)
  set(sources ${dir}/imgui.cpp ${dir}/imgui_draw.cpp ${dir}/imgui_tables.cpp
    ${dir}/imgui_widgets.cpp ${dir}/imgui_demo.cpp
    ${dir}/backends/imgui_impl_win32.cpp ${dir}/backends/imgui_impl_dx11.cpp)
  add_library(tonefork_imgui STATIC ${sources})
  target_link_libraries(tonefork_imgui PUBLIC tonefork_imgui_headers)
  # The tests' build reports every item it lays out (the library's test
  # engine hooks), so that a test can find a widget by its label.
  add_library(tonefork_imgui_probe STATIC ${sources})
  target_compile_definitions(tonefork_imgui_probe PUBLIC IMGUI_ENABLE_TEST_ENGINE)
  target_link_libraries(tonefork_imgui_probe PUBLIC tonefork_imgui_headers)
endfunction()
