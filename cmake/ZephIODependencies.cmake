# Every external dependency, found once for the whole tree.
find_package(Threads REQUIRED)
find_package(Boost 1.81 REQUIRED COMPONENTS thread stacktrace_backtrace)
find_package(glog 0.6 REQUIRED CONFIG)
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
find_package(ICU REQUIRED COMPONENTS uc i18n)
find_package(PkgConfig REQUIRED)
pkg_check_modules(UDEV REQUIRED IMPORTED_TARGET libudev)
