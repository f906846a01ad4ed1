#pragma once

namespace velmora {

// The language edition is fixed when the program is built; the core takes it as a value so
// that one test build can drive both editions.
enum class Edition { Japanese, English };

}  // namespace velmora
