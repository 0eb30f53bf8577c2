// Sets or clears the two catalog base-address variables of this process for
// one test, and clears both when it goes.
#pragma once

#include <cstdlib>

namespace mivora::testing {

class BaseAddress {
public:
    BaseAddress(const char* primary, const char* fallback) {
        set("MIVORA_API_BASE_URL", primary);
        set("VANTORQUELL_API_BASE_URL", fallback);
    }
    ~BaseAddress() {
        ::unsetenv("MIVORA_API_BASE_URL");
        ::unsetenv("VANTORQUELL_API_BASE_URL");
    }
    BaseAddress(const BaseAddress&) = delete;
    BaseAddress& operator=(const BaseAddress&) = delete;

private:
    static void set(const char* name, const char* value) {
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
};

} // namespace mivora::testing
