// The per-call environment: settings, the last error, an optional error log
// and the root of the tree of data objects made during one exported call.
//
// An environment belongs to the thread that opened it and never outlives the
// call.  Every internal operation starts with checkEnvironment and returns its
// code unchanged when it fails; errors are recorded with reportError, which
// also appends a line "ipi: <message>" to the log when logging is on.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/env/status.h"
#include "orvo/orvocore.h"

namespace orvo {

struct DataObject;

// The 28 environment attributes, in record order.
enum class EnvAttr : int {
    booleanPrecision,
    nonnegativeIntegerPrecision,
    signedIntegerPrecision,
    realArithmeticPrecision,
    complexArithmeticPrecision,
    boundaryCondition,
    colourQuantization,
    comformanceProfile,
    errorDiffusion,
    errorReportingState,
    indexAssignmentState,
    interpolation,
    matchPointState,
    morphologicalOperation,
    operationalState,
    realArithmeticImplementation,
    roiState,
    synchronicityState,
    thresholdRamp,
    byteBoundary,
    progressive,
    interlacePass,
    debugState,
    xDimensionLimit,
    yDimensionLimit,
    zDimensionLimit,
    tDimensionLimit,
    bDimensionLimit,
    count
};

inline constexpr uint32_t kEnvironmentMagic = 0x49504900u;  // bytes 00 'I' 'P' 'I'
inline constexpr int32_t kStateOpenValue = 155;
inline constexpr int32_t kStateClosedValue = 31;
inline constexpr int kEnvAttrCount = static_cast<int>(EnvAttr::count);

struct Environment {
    uint32_t magic = 0;
    int32_t lastError = 0;
    char *logName = nullptr;           // heap copy, or null
    DataObject *objects = nullptr;     // first top-level object
    int32_t attributes[kEnvAttrCount] = {};
    // Every object record made in this environment, in creation order; an
    // object's id is its index + 1 (composites store ids, not addresses).
    std::vector<DataObject *> registry;
};

// Name of an environment attribute as attribute lists spell it.
const char *environmentAttributeName(EnvAttr attribute);

// Opens an environment; a non-empty `logName` turns logging on.  Null when
// memory is short.
Environment *openEnvironment(const char *logName = nullptr);

// 0, or 24 when `env` is null, not an environment or not open.
int checkEnvironment(const Environment *env);

// Frees every object of the environment and the record; returns the check
// code when `env` is not an open environment.
int closeEnvironment(Environment *env);

// Records `code` as the last error and logs it when logging is on.
void reportError(Environment *env, int code);

// Reports `code` (when non-zero) and returns it: `return fail(env, 18);`.
inline int fail(Environment *env, int code) {
    if (code != kOk) reportError(env, code);
    return code;
}

// The check code when `env` is bad, else the recorded last error.
int lastError(const Environment *env);

// Reads the named attributes; each pair's value is an `int32_t *`.  An
// unknown name reports 18 and stops the walk.
int inquireEnvironmentAttributes(Environment *env, std::span<const CmiAttribute> list);
// Writes the named attributes; each pair's value is the new value.
int setEnvironmentAttributes(Environment *env, std::span<const CmiAttribute> list);
int inquireEnvironmentAttribute(Environment *env, const char *name, int32_t *value);
int setEnvironmentAttribute(Environment *env, const char *name, int32_t value);

// Direct access for the core's own code.
inline int32_t envAttr(const Environment *env, EnvAttr attribute) {
    return env->attributes[static_cast<int>(attribute)];
}
inline void setEnvAttr(Environment *env, EnvAttr attribute, int32_t value) {
    env->attributes[static_cast<int>(attribute)] = value;
}

// The precision attribute that goes with a data type (18, 35, 153, 161, 174),
// or -1 for other types.
int32_t precisionForDataType(const Environment *env, int32_t dataType);

// Opens an environment for one exported call and closes it at scope exit,
// folding the close result into the caller's status as every Cmi function
// must: a close error replaces the status.
class CallEnvironment {
public:
    explicit CallEnvironment(int32_t *status);
    ~CallEnvironment();
    CallEnvironment(const CallEnvironment &) = delete;
    CallEnvironment &operator=(const CallEnvironment &) = delete;

    Environment *get() const { return env_; }
    bool ok() const { return env_ != nullptr; }
    // Closes now; returns the final status (also stored in *status).
    int32_t close();

private:
    Environment *env_;
    int32_t *status_;
};

}  // namespace orvo
