// Asio is compiled once, here, instead of in every file that includes it
// (ASIO_SEPARATE_COMPILATION on every target that links the protocol library).
#include <asio/impl/src.hpp>
#include <asio/ssl/impl/src.hpp>
