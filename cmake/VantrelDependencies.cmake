# Every third-party library the project uses, found once and exposed as imported targets.
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
find_package(OpenSSL 3 REQUIRED)
find_package(nlohmann_json 3.10 REQUIRED)

# Standalone Asio is header-only; it is compiled once (see vantrel_asio in SyncProtocol)
# instead of in every translation unit that includes it.
find_path(ASIO_INCLUDE_DIR asio.hpp REQUIRED)

pkg_check_modules(URIPARSER REQUIRED IMPORTED_TARGET liburiparser)
pkg_check_modules(UTF8PROC REQUIRED IMPORTED_TARGET libutf8proc)
