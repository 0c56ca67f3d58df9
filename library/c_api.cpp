// The plain C interface: each call runs its C++ counterpart and turns what it
// throws into a status, so that no exception crosses into C.
#include <cstring>
#include <new>
#include <optional>

#include "tavrel/tavrel.h"
#include "tavrel/tavrel.hpp"

struct tavrel_hierarchy {
  tavrel::Hierarchy hierarchy;
};

struct tavrel_cursor {
  tavrel::Cursor cursor;
};

namespace {

template <class Call>
tavrel_status guarded(Call&& call) noexcept {
  try {
    call();
    return TAVREL_OK;
  } catch (const tavrel::InvalidArgument&) {
    return TAVREL_INVALID_ARGUMENT;
  } catch (const tavrel::OutOfMemory&) {
    return TAVREL_OUT_OF_MEMORY;
  } catch (const tavrel::Cancelled&) {
    return TAVREL_CANCELLED;
  } catch (const std::bad_alloc&) {
    return TAVREL_OUT_OF_MEMORY;
  } catch (...) {
    return TAVREL_INTERNAL_ERROR;
  }
}

[[noreturn]] void invalid(const char* what) {
  throw tavrel::InvalidArgument(what);
}

void rgbInto(const std::vector<tavrel::Colour>& colours, uint8_t* rgb, size_t size) {
  if (!rgb || size / 3 < colours.size()) invalid("colour buffer too small");
  for (const tavrel::Colour& c : colours) {
    *rgb++ = c.r;
    *rgb++ = c.g;
    *rgb++ = c.b;
  }
}

std::optional<tavrel::OutputFormat> outputFormat(tavrel_output_format format) {
  switch (static_cast<int>(format)) {
    case TAVREL_OUTPUT_RGB:
      return tavrel::OutputFormat::Rgb;
    case TAVREL_OUTPUT_RGBA:
      return tavrel::OutputFormat::Rgba;
    case TAVREL_OUTPUT_INDEX8:
      return tavrel::OutputFormat::Index8;
    case TAVREL_OUTPUT_INDEX16:
      return tavrel::OutputFormat::Index16;
    case TAVREL_OUTPUT_INDEX32:
      return tavrel::OutputFormat::Index32;
  }
  return std::nullopt;
}

tavrel::Remap remapOf(tavrel_remap remap) {
  switch (static_cast<int>(remap)) {
    case TAVREL_REMAP_CLUSTER:
      return tavrel::Remap::Cluster;
    case TAVREL_REMAP_NEAREST:
      return tavrel::Remap::Nearest;
  }
  invalid("unknown remap");
}

tavrel::Output output(tavrel_output_format format, void* out, size_t size, size_t rowStride) {
  const std::optional<tavrel::OutputFormat> f = outputFormat(format);
  if (!f) invalid("unknown output format");
  return {out, size, rowStride, *f};
}

const tavrel::Hierarchy& of(const tavrel_hierarchy* h) {
  if (!h) invalid("no hierarchy");
  return h->hierarchy;
}

}  // namespace

extern "C" {

const char* tavrel_version(void) {
  return tavrel::version();
}

const char* tavrel_status_text(tavrel_status status) {
  switch (static_cast<int>(status)) {
    case TAVREL_OK:
      return "success";
    case TAVREL_INVALID_ARGUMENT:
      return "invalid argument";
    case TAVREL_OUT_OF_MEMORY:
      return "out of memory";
    case TAVREL_CANCELLED:
      return "cancelled";
    case TAVREL_INTERNAL_ERROR:
      return "internal error";
  }
  return "unknown status";
}

tavrel_status tavrel_build(const uint8_t* pixels, uint32_t width, uint32_t height,
                           size_t row_stride, tavrel_pixel_format format,
                           tavrel_progress_fn progress, void* user, unsigned threads,
                           tavrel_hierarchy** out, uint32_t* colours) {
  return guarded([&] {
    if (!out) invalid("no place for the handle");
    tavrel::Pixels p{pixels, width, height, row_stride, tavrel::PixelFormat::Rgb};
    const auto raw = static_cast<int>(format);
    if (raw == TAVREL_PIXELS_RGBX) {
      p.format = tavrel::PixelFormat::Rgbx;
    } else if (raw != TAVREL_PIXELS_RGB) {
      invalid("unknown pixel format");
    }
    tavrel::BuildOptions options;
    options.threads = threads;
    if (progress) options.progress = [progress, user](double f) { return progress(f, user) != 0; };
    try {
      auto* handle = new tavrel_hierarchy{tavrel::Hierarchy(p, options)};
      if (colours) *colours = handle->hierarchy.colours();
      *out = handle;
    } catch (const tavrel::OutOfMemory& e) {
      if (colours) *colours = e.colours();
      throw;
    }
  });
}

void tavrel_free(tavrel_hierarchy* hierarchy) {
  delete hierarchy;
}

uint32_t tavrel_width(const tavrel_hierarchy* h) {
  return h ? h->hierarchy.width() : 0;
}
uint32_t tavrel_height(const tavrel_hierarchy* h) {
  return h ? h->hierarchy.height() : 0;
}
uint32_t tavrel_colours(const tavrel_hierarchy* h) {
  return h ? h->hierarchy.colours() : 0;
}
size_t tavrel_memory_bytes(const tavrel_hierarchy* h) {
  return h ? h->hierarchy.memoryBytes() : 0;
}

tavrel_status tavrel_palette(const tavrel_hierarchy* h, uint32_t k, uint8_t* rgb, size_t size) {
  return guarded([&] { rgbInto(of(h).palette(k), rgb, size); });
}

size_t tavrel_output_size(const tavrel_hierarchy* h, tavrel_output_format format,
                          size_t row_stride) {
  size_t size = 0;
  guarded(
      [&] { size = of(h).outputSize(output(format, nullptr, 0, row_stride).format, row_stride); });
  return size;
}

tavrel_status tavrel_paint(const tavrel_hierarchy* h, uint32_t k, tavrel_output_format format,
                           void* out, size_t size, size_t row_stride) {
  return guarded([&] { of(h).paint(k, output(format, out, size, row_stride)); });
}

tavrel_status tavrel_paint_remapped(const tavrel_hierarchy* h, uint32_t k, tavrel_remap remap,
                                    tavrel_output_format format, void* out, size_t size,
                                    size_t row_stride) {
  return guarded([&] { of(h).paint(k, output(format, out, size, row_stride), remapOf(remap)); });
}

tavrel_status tavrel_cursor_new(const tavrel_hierarchy* h, uint32_t k, tavrel_output_format format,
                                void* out, size_t size, size_t row_stride, tavrel_cursor** cursor) {
  return guarded([&] {
    if (!cursor) invalid("no place for the cursor");
    *cursor = new tavrel_cursor{tavrel::Cursor(of(h), k, output(format, out, size, row_stride))};
  });
}

uint32_t tavrel_cursor_k(const tavrel_cursor* cursor) {
  return cursor ? cursor->cursor.k() : 0;
}

tavrel_status tavrel_cursor_advance(tavrel_cursor* cursor, uint32_t k) {
  return guarded([&] {
    if (!cursor) invalid("no cursor");
    cursor->cursor.advanceTo(k);
  });
}

void tavrel_cursor_free(tavrel_cursor* cursor) {
  delete cursor;
}

tavrel_status tavrel_split_at(const tavrel_hierarchy* h, uint32_t step, tavrel_split* out) {
  return guarded([&] {
    const tavrel::Split s = of(h).split(step);
    if (!out) invalid("no place for the split");
    *out = {s.node,
            s.pixels,
            {s.left.r, s.left.g, s.left.b},
            {s.right.r, s.right.g, s.right.b},
            s.cost};
  });
}

tavrel_status tavrel_path_label(const tavrel_hierarchy* h, uint32_t step, char* text, size_t size,
                                size_t* length) {
  return guarded([&] {
    const std::string label = of(h).pathLabel(step);
    if (length) *length = label.size();
    if (!text || size <= label.size()) invalid("text buffer too small");
    std::memcpy(text, label.c_str(), label.size() + 1);
  });
}

tavrel_status tavrel_mean_delta_e(const tavrel_hierarchy* h, uint32_t kmax, double* out,
                                  size_t count) {
  return tavrel_mean_delta_e_remapped(h, TAVREL_REMAP_CLUSTER, kmax, out, count);
}

tavrel_status tavrel_mean_delta_e_remapped(const tavrel_hierarchy* h, tavrel_remap remap,
                                           uint32_t kmax, double* out, size_t count) {
  return guarded([&] {
    const tavrel::Hierarchy& hierarchy = of(h);
    const tavrel::Remap how = remapOf(remap);
    if (!out || count < kmax) invalid("output too small");
    const std::vector<double> means = hierarchy.meanDeltaE(kmax, how);
    std::memcpy(out, means.data(), means.size() * sizeof(double));
  });
}

tavrel_status tavrel_fewest_colours(const tavrel_hierarchy* h, double max_mean, uint32_t* k) {
  return tavrel_fewest_colours_remapped(h, TAVREL_REMAP_CLUSTER, max_mean, k);
}

tavrel_status tavrel_fewest_colours_remapped(const tavrel_hierarchy* h, tavrel_remap remap,
                                             double max_mean, uint32_t* k) {
  return guarded([&] {
    const tavrel::Hierarchy& hierarchy = of(h);
    const tavrel::Remap how = remapOf(remap);
    if (!k) invalid("no place for k");
    *k = hierarchy.fewestColours(max_mean, how);
  });
}

tavrel_status tavrel_linkage(const tavrel_hierarchy* h, double* out, size_t count) {
  return guarded([&] {
    const tavrel::Hierarchy& hierarchy = of(h);
    const size_t need = 4 * static_cast<size_t>(hierarchy.colours() - 1);
    if ((!out && need > 0) || count < need) invalid("output too small");
    const std::vector<double> rows = hierarchy.linkage();
    if (need > 0) std::memcpy(out, rows.data(), need * sizeof(double));
  });
}

tavrel_status tavrel_leaf_colours(const tavrel_hierarchy* h, uint8_t* rgb, size_t size) {
  return guarded([&] { rgbInto(of(h).leafColours(), rgb, size); });
}

}  // extern "C"
