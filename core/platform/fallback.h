// For the functions whose only answer to a failure is an empty, false or zero result (they keep
// no error record): the one guarded call that turns an exception into that result.
#pragma once

#include <type_traits>

namespace zentra {

// Runs `body` and gives its result; an exception (out of memory, in practice) gives `fallback`
// instead and goes no further.
template <class Body, class Result = std::invoke_result_t<Body&>>
Result OrFallback(Body&& body, Result fallback = Result{}) noexcept {
    try {
        return body();
    } catch (...) {
        return fallback;
    }
}

}  // namespace zentra
