# Hardening of every binary, as Debian builds its packages (`dpkg-buildflags` with
# DEB_BUILD_MAINT_OPTIONS=hardening=+all): stack protector, _FORTIFY_SOURCE=2, format-string
# checks, full RELRO and position-independent executables. Flags that CXXFLAGS, CPPFLAGS and
# LDFLAGS bring in from the environment (a Debian package build exports dpkg-buildflags) are
# added by CMake as usual; these make the same protection the default of every build.
# scripts/check-hardening checks the result on the packaged binaries.
option(ORSA_HARDENING "Build with the distribution's hardening flags" ON)
if(ORSA_HARDENING AND NOT WIN32 AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    include(CheckPIESupported)
    check_pie_supported()
    set(CMAKE_POSITION_INDEPENDENT_CODE ON)
    add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
    # _FORTIFY_SOURCE works only when the compiler optimises (and glibc warns without it), so
    # only the optimised build types get it; the sanitizer build stays without.
    add_compile_definitions($<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:_FORTIFY_SOURCE=2>)
    add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()
