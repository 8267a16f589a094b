# Builds the scriptable fake archiver libraries (see FakeControl.h). Include this file from any
# test folder that wants a variant of its own; it is safe to include more than once.
#
# quorvel_add_fake_archiver(<variant> <library-stem>
#                           PREFIX <prefix> | ZIP <UnZip|Unzip>
#                           [OMIT <entry>...])
#   Builds <build>/fakes/<variant>/lib<library-stem>.so. With PREFIX the entries are the prefix
#   alone (the main command) and the prefix followed by OpenArchive, CloseArchive, FindFirst,
#   FindNext, CheckArchive, SetOwnerWindowEx, KillOwnerWindowEx, ExtractMem, GetWriteTimeEx,
#   GetCreateTimeEx, GetAccessTimeEx, GetOriginalSizeEx, GetCompressedSizeEx, GetArchiveType,
#   SetDefaultPassword and PasswordDialog. With ZIP the entries are the fixed ZIP names: "Zip",
#   the spelling itself ("UnZip" or LMZIP32's "Unzip"), the spelling followed by OpenArchive,
#   CloseArchive, FindFirst, FindNext, CheckArchive, ExtractMem, SetOwnerWindowEx,
#   KillOwnerWindowEx, GetCreateTimeEx, GetAccessTimeEx, and "UnzipGetWriteTimeEx".
#   OMIT names entries to leave out by their function name (Command for the main entry, Zip,
#   UnZip, OpenArchive, GetWriteTimeEx, ...).
include_guard(GLOBAL)

# Paths from the top of the trees: the including folder's scope is not the same on every include.
set(QUORVEL_FAKES_DIR ${CMAKE_BINARY_DIR}/fakes)
set(_quorvel_fakes_src ${CMAKE_SOURCE_DIR}/tests/fakes)

add_library(quorvel_fakecontrol SHARED ${_quorvel_fakes_src}/FakeControl.cpp)
target_include_directories(quorvel_fakecontrol PUBLIC ${_quorvel_fakes_src}
                           ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/include)
target_compile_definitions(quorvel_fakecontrol PRIVATE QUORVEL_FAKES_DIR="${QUORVEL_FAKES_DIR}")
add_custom_target(quorvel_fakes)
file(MAKE_DIRECTORY ${QUORVEL_FAKES_DIR}/empty)

function(quorvel_add_fake_archiver variant stem)
  cmake_parse_arguments(PARSE_ARGV 2 F "" "PREFIX;ZIP" "OMIT")
  set(_quorvel_fakes_src ${CMAKE_SOURCE_DIR}/tests/fakes)
  set(QUORVEL_FAKES_DIR ${CMAKE_BINARY_DIR}/fakes)
  set(slots)
  if(F_PREFIX)
    list(APPEND slots "COMMAND=Command=${F_PREFIX}")
    foreach(fn OpenArchive CloseArchive FindFirst FindNext CheckArchive SetOwnerWindowEx
               KillOwnerWindowEx ExtractMem GetWriteTimeEx GetCreateTimeEx GetAccessTimeEx
               GetOriginalSizeEx GetCompressedSizeEx GetArchiveType SetDefaultPassword
               PasswordDialog)
      string(TOUPPER ${fn} up)
      list(APPEND slots "${up}=${fn}=${F_PREFIX}${fn}")
    endforeach()
  elseif(F_ZIP)
    list(APPEND slots "ZIP=Zip=Zip" "UNZIP=UnZip=${F_ZIP}" "GETWRITETIMEEX=GetWriteTimeEx=UnzipGetWriteTimeEx")
    foreach(fn OpenArchive CloseArchive FindFirst FindNext CheckArchive ExtractMem
               SetOwnerWindowEx KillOwnerWindowEx GetCreateTimeEx GetAccessTimeEx)
      string(TOUPPER ${fn} up)
      list(APPEND slots "${up}=${fn}=${F_ZIP}${fn}")
    endforeach()
  else()
    message(FATAL_ERROR "quorvel_add_fake_archiver(${variant} ${stem}): PREFIX or ZIP is needed")
  endif()

  string(MAKE_C_IDENTIFIER "fake_${variant}_${stem}" target)
  add_library(${target} SHARED ${_quorvel_fakes_src}/fake_archiver.cpp)
  set(defs FAKE_LIBRARY="lib${stem}.so" FAKE_VARIANT="${variant}")
  foreach(slot ${slots})
    string(REPLACE "=" ";" parts "${slot}")
    list(GET parts 0 macro)
    list(GET parts 1 fn)
    list(GET parts 2 exported)
    if(NOT fn IN_LIST F_OMIT)
      list(APPEND defs FAKE_ENTRY_${macro}=${exported})
    endif()
  endforeach()
  target_compile_definitions(${target} PRIVATE ${defs})
  # Hidden by default so only the entries are exported; no unique symbols, so dlclose unloads.
  target_compile_options(${target} PRIVATE -fvisibility=hidden)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -fno-gnu-unique)
  endif()
  target_include_directories(${target} PRIVATE ${_quorvel_fakes_src} ${CMAKE_SOURCE_DIR}
                             ${CMAKE_SOURCE_DIR}/include)
  target_link_libraries(${target} PRIVATE quorvel_fakecontrol)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${stem}
    LIBRARY_OUTPUT_DIRECTORY ${QUORVEL_FAKES_DIR}/${variant}
    NO_SONAME ON
    BUILD_RPATH "$ORIGIN/../../lib")
  add_dependencies(quorvel_fakes ${target})
endfunction()
