#include "base/script_state.h"

ScriptState gState;
