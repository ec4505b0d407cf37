// The state of one print job, created when the job starts and handed down to
// every stage that needs it: the job's settings, its model's row, the
// job-wide values the stages pass on to one another, where its printer bytes
// go and where its diagnostics go. Nothing of a job lives anywhere else, so
// any number of jobs can run at once, each on any thread.
#pragma once

#include <cstdint>

#include "core/diagnostics.h"
#include "core/model_table.h"
#include "core/settings.h"
#include "core/output_sink.h"

struct JobContext {
  // A job of `jobSettings`, whose model must be in the model table, writing
  // to `sink` and reporting to `diagnostics`.
  JobContext(const JobSettings& jobSettings, OutputSink& sink, Diagnostics diagnostics)
      : settings(jobSettings), model(*findModel(jobSettings.ModelNumber)), out(sink), log(diagnostics),
        PrinterModel(jobSettings.ModelNumber) {}

  JobSettings settings;  // a raster job takes out the turns ticket sizes forbid
  const ModelRow& model;
  OutputSink& out;
  Diagnostics log;

  // The job-wide values.
  int32_t PrinterModel;      // model number, settings.ModelNumber
  int32_t PageType = 0;      // 0 read and trim, 1 read only; copied per page
  int32_t Rotation = 0;      // turn applied to the current page: 1, 2, 3 = 90, 180, 270
  int32_t Scale = 0;         // 95 or 100 once a page has been reduced, else 0
  int32_t Focus = 0;         // 0 none, 1 right-hand window, 2 centred window
  int32_t ColorMode = 0;     // 0 two-colour page, 1 monochrome page
  int32_t ALREADY_OPEN = 1;  // 1 while the before-printing drawer kick is due
};
