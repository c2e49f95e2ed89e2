// Test programs that hold the component's code themselves, rather than load libZorvik.UWP.so,
// have no component file to find the engine module beside: they name the built one, unless
// the environment names another.
#include <cstdlib>

namespace {
[[maybe_unused]] const int engineNamed = setenv("ZORVIK_ENGINE", ZORVIK_ENGINE_MODULE, 0);
}  // namespace
