// Writes the files of one job: the bytes, the command list, the picture and,
// for a malformed stream, the error.
#include "tools/virtual-printer/job_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/preview/receipt.h"
#include "tools/preview/render.h"

namespace vprinter {
namespace {

// Writes `data` to `path`; an empty string, or why it failed.
std::string writeFile(const std::string& path, std::span<const char> data) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return "cannot create " + path + ": " + std::strerror(errno);
  bool ok = std::fwrite(data.data(), 1, data.size(), file) == data.size();
  ok = std::fclose(file) == 0 && ok;
  return ok ? "" : "cannot write " + path + ": " + std::strerror(errno);
}

// The --list lines of the decoded commands.
std::string listing(const preview::DecodeResult& decoded) {
  std::string text;
  for (const preview::Command& command : decoded.commands) text += preview::listLine(command) + "\n";
  return text;
}

}  // namespace

JobReport writeJobFiles(const std::string& dir, size_t number, std::span<const uint8_t> bytes,
                        uint32_t widthDots, preview::LogoStore& logos, bool picture) {
  std::string stem = dir + "/job-" + std::to_string(number);
  preview::Preview result = preview::previewBytes(bytes, preview::ReceiptOptions{widthDots}, &logos);
  JobReport report;
  report.commands = result.decoded.commands.size();
  report.error = result.decoded.error;
  report.warnings = result.receipt.warnings;
  report.png = stem + ".png";

  std::string text = listing(result.decoded);
  report.failure = writeFile(stem + ".bin", {reinterpret_cast<const char*>(bytes.data()), bytes.size()});
  if (report.failure.empty()) report.failure = writeFile(stem + ".txt", text);
  if (report.failure.empty() && report.error) {
    std::string why = "offset " + std::to_string(report.error->offset) + ": " + report.error->message + "\n";
    report.failure = writeFile(stem + ".error", why);
  }
  if (!report.failure.empty() || !picture) return report;
  preview::Canvas canvas;
  if (preview::renderReceipt(result.receipt, preview::RenderOptions{widthDots}, canvas, report.failure)) {
    preview::writePng(canvas, report.png, report.failure);
  }
  return report;
}

}  // namespace vprinter
