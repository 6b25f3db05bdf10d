#pragma once

#include <functional>

namespace testsupport {

// Processes Qt events until `condition` holds or `timeoutMs` pass; true when it held.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 10000);

}  // namespace testsupport
