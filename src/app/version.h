#pragma once

namespace hx {

// The version as the About box and `harbinex --version` show it: the project's version (CMakeLists.txt, which
// names the package) with its last number in three digits.
inline constexpr const char* kAboutVersionText = "Harbinex Version 1.1.007";

}  // namespace hx
