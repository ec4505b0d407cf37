// Two-colour page output: both planes stored as colours '1' (black) and '2'
// (the second colour) with GS ( L function 112, then printed with function 50.
#pragma once

#include "output/page.h"

// Sends the black and colour planes of the page.
void printColorPage(JobContext& job, const PagePlanes& page);
