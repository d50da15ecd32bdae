// Between the model cache and the model drawer (not for other modules).
#pragma once

#include "render/model.h"

// Compiles the display lists of every level's parts that take one (shaders
// on, or rigid and not negatively shiny), when a GL context is current;
// otherwise the first draw compiles them.
void model_build_lists(model* m);
// Deletes the display lists of every level's parts.
void model_delete_lists(model* m);
