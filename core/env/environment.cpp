// Environment record, error recording and the error log.
#include "core/env/environment.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <unistd.h>

#include "core/env/object.h"

namespace orvo {
namespace {

constexpr const char *kAttributeNames[kEnvAttrCount] = {
    "booleanPrecision",
    "nonnegativeIntegerPrecision",
    "signedIntegerPrecision",
    "realArithmeticPrecision",
    "complexArithmeticPrecision",
    "boundaryCondition",
    "colourQuantization",
    "comformanceProfile",
    "errorDiffusion",
    "errorReportingState",
    "indexAssignmentState",
    "interpolation",
    "matchPointState",
    "morphologicalOperation",
    "operationalState",
    "realArithmeticImplementation",
    "roiState",
    "synchronicityState",
    "thresholdRamp",
    "byteBoundary",
    "progressive",
    "interlacePass",
    "debugState",
    "xDimensionLimit",
    "yDimensionLimit",
    "zDimensionLimit",
    "tDimensionLimit",
    "bDimensionLimit",
};

// The defaults every environment starts from ("operationalState" is closed
// here and set to open once the record is built).
constexpr int32_t kTemplate[kEnvAttrCount] = {
    1, 8, 16, 32, 64, 231, 211, 86, 85, 0, 0, 191, 0, 0, kStateClosedValue, 161, 0, 1, 42, 0, 0, 1, 0,
    2147483647, 2147483647, 2147483647, 2147483647, 2147483647,
};

int findAttribute(const char *name) {
    if (name == nullptr) return -1;
    for (int i = 0; i < kEnvAttrCount; ++i) {
        if (std::strcmp(name, kAttributeNames[i]) == 0) return i;
    }
    return -1;
}

// Appends one log line.  A failing write is silent: the error stays recorded.
void writeLogLine(const Environment *env, int code) {
    const char *target = env->logName != nullptr ? env->logName : "stderr";
    char text[300] = {};
    const char *message = code == kSystemError ? std::strerror(errno) : OrvoStatusText(code);
    int length = std::snprintf(text, sizeof text, "ipi: %s\n", message);
    if (length < 0) return;
    if (length >= static_cast<int>(sizeof text)) length = sizeof text - 1;
    if (length < 298) {
        text[length - 1] = '\r';
        text[length] = '\n';
        ++length;
    }
    int fd = ::open(target, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) return;
    ssize_t ignored = ::write(fd, text, static_cast<size_t>(length));
    (void)ignored;
    ::close(fd);
}

}  // namespace

const char *environmentAttributeName(EnvAttr attribute) {
    int index = static_cast<int>(attribute);
    return index >= 0 && index < kEnvAttrCount ? kAttributeNames[index] : nullptr;
}

Environment *openEnvironment(const char *logName) {
    auto *env = new (std::nothrow) Environment;
    if (env == nullptr) return nullptr;
    env->magic = kEnvironmentMagic;
    std::memcpy(env->attributes, kTemplate, sizeof kTemplate);
    if (logName != nullptr && *logName != '\0') {
        env->logName = strdup(logName);
        if (env->logName == nullptr) {
            delete env;
            return nullptr;
        }
        setEnvAttr(env, EnvAttr::errorReportingState, 1);
    }
    setEnvAttr(env, EnvAttr::operationalState, kStateOpenValue);
    return env;
}

int checkEnvironment(const Environment *env) {
    if (env == nullptr || env->magic != kEnvironmentMagic ||
        envAttr(env, EnvAttr::operationalState) != kStateOpenValue) {
        return kInvalidHandle;
    }
    return kOk;
}

int closeEnvironment(Environment *env) {
    if (int code = checkEnvironment(env)) return code;
    int code = freeObjectTree(env);
    std::free(env->logName);
    env->logName = nullptr;
    env->magic = 0;
    setEnvAttr(env, EnvAttr::operationalState, kStateClosedValue);
    delete env;
    return code;
}

void reportError(Environment *env, int code) {
    if (checkEnvironment(env) != kOk) return;
    env->lastError = code;
    if (envAttr(env, EnvAttr::errorReportingState) != 0) writeLogLine(env, code);
}

int lastError(const Environment *env) {
    if (int code = checkEnvironment(env)) return code;
    return env->lastError;
}

int inquireEnvironmentAttributes(Environment *env, std::span<const CmiAttribute> list) {
    if (int code = checkEnvironment(env)) return code;
    for (const CmiAttribute &pair : list) {
        int index = findAttribute(pair.name);
        if (index < 0) return fail(env, kOutOfRange);
        auto *target = reinterpret_cast<int32_t *>(pair.value);
        if (target != nullptr) *target = env->attributes[index];
    }
    return kOk;
}

int setEnvironmentAttributes(Environment *env, std::span<const CmiAttribute> list) {
    if (int code = checkEnvironment(env)) return code;
    for (const CmiAttribute &pair : list) {
        int index = findAttribute(pair.name);
        if (index < 0) return fail(env, kOutOfRange);
        env->attributes[index] = static_cast<int32_t>(pair.value);
    }
    return kOk;
}

int inquireEnvironmentAttribute(Environment *env, const char *name, int32_t *value) {
    CmiAttribute pair{name, reinterpret_cast<intptr_t>(value)};
    return inquireEnvironmentAttributes(env, {&pair, 1});
}

int setEnvironmentAttribute(Environment *env, const char *name, int32_t value) {
    CmiAttribute pair{name, value};
    return setEnvironmentAttributes(env, {&pair, 1});
}

int32_t precisionForDataType(const Environment *env, int32_t dataType) {
    switch (dataType) {
    case 18: return envAttr(env, EnvAttr::booleanPrecision);
    case 35: return envAttr(env, EnvAttr::complexArithmeticPrecision);
    case 153: return envAttr(env, EnvAttr::nonnegativeIntegerPrecision);
    case 161: return envAttr(env, EnvAttr::realArithmeticPrecision);
    case 174: return envAttr(env, EnvAttr::signedIntegerPrecision);
    default: return -1;
    }
}

CallEnvironment::CallEnvironment(int32_t *status) : env_(openEnvironment()), status_(status) {
    if (env_ == nullptr && status_ != nullptr) *status_ = kSystemError;
}

CallEnvironment::~CallEnvironment() { close(); }

int32_t CallEnvironment::close() {
    if (env_ != nullptr) {
        int code = closeEnvironment(env_);
        env_ = nullptr;
        if (code != kOk && status_ != nullptr) *status_ = code;
    }
    return status_ != nullptr ? *status_ : kOk;
}

}  // namespace orvo
