// A plane operation that reaches up into the job layer: the layer check
// must refuse it (and accept the include of core below it).
#include "core/settings.h"
#include "job/raster_job.h"
