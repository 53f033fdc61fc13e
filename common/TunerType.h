#pragma once

// The module's tuner chip as it answers "VTUN": 0 to 5, or -1 when not recognised.
using TunerType = int;

inline constexpr TunerType TUNER_UNKNOWN = -1;
