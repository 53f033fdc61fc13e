# Debian's hardening for the release builds, as dpkg-buildflags hands it to a package build:
# fortify, the stack protector, relro and bindnow (PIE is the compiler's default on Debian).
find_program(QAM_DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
foreach(kind CPPFLAGS CXXFLAGS CFLAGS LDFLAGS)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                            ${QAM_DPKG_BUILDFLAGS} --get ${kind}
                    OUTPUT_VARIABLE QAM_DEB_${kind} OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
endforeach()
string(APPEND CMAKE_CXX_FLAGS " ${QAM_DEB_CPPFLAGS} ${QAM_DEB_CXXFLAGS}")
string(APPEND CMAKE_C_FLAGS " ${QAM_DEB_CPPFLAGS} ${QAM_DEB_CFLAGS}")
string(APPEND CMAKE_EXE_LINKER_FLAGS " ${QAM_DEB_LDFLAGS}")
