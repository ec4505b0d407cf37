#include "core/job_context.h"

JobContext::JobContext(const JobSettings& jobSettings, OutputSink& sink, Diagnostics diagnostics)
    : settings(jobSettings),
      model(*findModel(jobSettings.ModelNumber)),
      out(sink),
      log(diagnostics),
      PrinterModel(jobSettings.ModelNumber) {}
