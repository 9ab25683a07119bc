// Asio's non-template code, compiled once for the whole program instead of in every source file.
#include <asio/impl/src.hpp>
