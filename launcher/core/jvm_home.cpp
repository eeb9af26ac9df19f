#include "core/jvm_home.h"

namespace {

std::string jvmHome;

} // namespace

void setJvmHome(const std::string& javaExe) {
    size_t slash = javaExe.find_last_of('\\');
    jvmHome = javaExe.substr(0, slash == std::string::npos ? 0 : slash + 1) + "..";
}

const std::string& getJvmHome() { return jvmHome; }
