# Third-party libraries, all from Debian packages (scripts/bootstrap installs them).
find_package(Threads REQUIRED)
find_package(Boost 1.81 REQUIRED COMPONENTS json)
find_package(OpenSSL REQUIRED)
find_package(CURL REQUIRED)
find_package(uriparser 0.9 REQUIRED CONFIG)
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBDEFLATE REQUIRED IMPORTED_TARGET libdeflate)
