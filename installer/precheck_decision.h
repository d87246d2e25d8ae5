// Which machines the product may be installed on, decided from what the platform reports.
#pragma once

namespace precheck {

// The installer's verdicts, as the exported check returns them.
enum verdict : int {
    may_install = 0,
    server_edition = 1,
    wow64_process = 2,
    safe_mode = 3,
};

// What the platform says about itself.
struct platform_answers {
    bool server_edition = false;  // any server edition of Windows
    bool wow64 = false;           // a 32-bit process on 64-bit Windows
    bool safe_mode = false;       // started in Safe Mode (any kind)
};

// The edition and process tests come before the boot mode: a server in Safe Mode is a server.
constexpr verdict decide(const platform_answers& a) {
    if (a.server_edition) return server_edition;
    if (a.wow64) return wow64_process;
    if (a.safe_mode) return safe_mode;
    return may_install;
}

}  // namespace precheck
