/* A stand-in for the window server's private framework, for tests only. Its
 * appearance switch logs "dark" or "light" to $TMPDIR/skylight.log; built with
 * FAKE_SKYLIGHT_EFFECTIVE=1 it also rewrites the any-application preferences
 * the way the real switch would, otherwise it changes nothing. */
#include <stdbool.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

void SLSSetAppearanceThemeLegacy(bool dark);

void SLSSetAppearanceThemeLegacy(bool dark) {
    char path[4096];
    const char* tmp = getenv("TMPDIR");
    snprintf(path, sizeof path, "%s/skylight.log", tmp ? tmp : "/tmp");
    FILE* log = fopen(path, "a");
    if (log) {
        fputs(dark ? "dark\n" : "light\n", log);
        fclose(log);
    }
#if FAKE_SKYLIGHT_EFFECTIVE
    const char* home = getenv("HOME");
    if (!home) return;
    snprintf(path, sizeof path, "%s/Library", home);
    mkdir(path, 0755);
    snprintf(path, sizeof path, "%s/Library/Preferences", home);
    mkdir(path, 0755);
    snprintf(path, sizeof path, "%s/Library/Preferences/.GlobalPreferences.plist", home);
    FILE* preferences = fopen(path, "w");
    if (!preferences) return;
    fputs("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>", preferences);
    if (dark) fputs("<key>AppleInterfaceStyle</key><string>Dark</string>", preferences);
    fputs("</dict></plist>\n", preferences);
    fclose(preferences);
#endif
}
