#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// A home folder of the test program's own, so that nothing a test does (Qt's remembered
// dialog folders, thumbnails, the trash) reaches the user's, and nothing of theirs reaches
// the test. Removed when the program ends.
class PrivateHome {
public:
    PrivateHome() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/dm-test-home-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            return;  // the tests then run with the user's home
        }
        path_ = pattern;
        // GStreamer keeps its plugin registry where it was: a fresh one in every test program
        // would rescan every plugin.
        if (std::getenv("GST_REGISTRY") == nullptr) {
            const char* cache = std::getenv("XDG_CACHE_HOME");
            const char* home = std::getenv("HOME");
            const std::string cacheFolder = cache != nullptr && *cache != '\0' ? cache
                                            : home != nullptr ? std::string(home) + "/.cache"
                                                              : std::string();
            if (!cacheFolder.empty()) {
                ::setenv("GST_REGISTRY",
                         (cacheFolder + "/gstreamer-1.0/registry.x86_64.bin").c_str(), 0);
            }
        }
        ::setenv("HOME", path_.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (path_ + "/.config").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (path_ + "/.cache").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (path_ + "/.local/share").c_str(), 1);
    }
    ~PrivateHome() {
        if (!path_.empty()) {
            std::error_code error;
            std::filesystem::remove_all(path_, error);
        }
    }
    PrivateHome(const PrivateHome&) = delete;
    PrivateHome& operator=(const PrivateHome&) = delete;

private:
    std::string path_;
};

}  // namespace

// Every test program runs with a QApplication on the offscreen platform and a private home,
// so tests can make widgets and use Qt's event loop.
int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const PrivateHome home;
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
