// Runs a test under a locale. POSIX switches the process locale for the
// scope. On Windows the program's text is UTF-8 whatever the PC's code page
// (the Windows tests run under Wine's 936, 1252 and 950): the UTF-8 scope
// always holds there and the GBK one is unavailable.
#pragma once

#include <string>

enum class TestLocale {
    Gbk,           // code page 936
    Utf8,          // UTF-8 as the local code page
    CommaDecimal,  // "," as the decimal mark
};

class LocaleScope {
public:
    explicit LocaleScope(TestLocale locale);
    ~LocaleScope();
    LocaleScope(const LocaleScope&) = delete;
    LocaleScope& operator=(const LocaleScope&) = delete;

    bool ok() const { return m_ok; }
    // This system cannot give it at all: the test is skipped.
    bool unavailable() const { return m_unavailable; }

private:
    std::string m_saved;
    bool m_ok = false;
    bool m_unavailable = false;
};

// Skips the test where the system cannot give the locale; fails it where
// the machine lacks it (scripts/setup makes them).
#define USE_LOCALE(scope, locale)                                         \
    LocaleScope scope(locale);                                            \
    if (scope.unavailable())                                              \
        GTEST_SKIP() << "this system cannot switch to that code page";    \
    ASSERT_TRUE(scope.ok()) << "locale missing (scripts/setup makes it)"
