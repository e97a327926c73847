// The model parts of a package read into its resources: the root part, then
// every part that a p:path of the production extension names.
#pragma once
#include "threemf/model_resources.h"

// False after reporting. The root part must already be part 0.
bool readModelParts(ModelResources* resources);
