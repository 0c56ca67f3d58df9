// The Python face of the library: numpy arrays in, numpy arrays out.
//
// Every call checks its arguments here, before the library sees them, so that
// a Python user reads what was given and what was expected in the words of
// Python (shapes, dtypes, keyword names); the library's own checks stay as a
// second line. Long work (the build, painting, the quality curve) runs with
// the GIL released; arrays handed back are allocated by numpy and own their
// bytes.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "python/docstrings.h"
#include "tavrel/tavrel.hpp"

namespace py = pybind11;

namespace {

std::string shapeText(const py::array& array) {
  std::string text = "(";
  for (py::ssize_t d = 0; d < array.ndim(); ++d) {
    if (d > 0) text += ", ";
    text += std::to_string(array.shape(d));
  }
  if (array.ndim() == 1) text += ",";
  return text + ")";
}

std::string typeName(py::handle object) {
  return py::str(py::type::handle_of(object).attr("__name__"));
}

tavrel::Remap readRemap(const std::string& remap) {
  if (remap == "cluster") return tavrel::Remap::Cluster;
  if (remap == "nearest") return tavrel::Remap::Nearest;
  throw py::value_error("remap must be \"cluster\" or \"nearest\"; got \"" + remap + "\"");
}

// ------------------------------------------------------------------ input --

// The caller's pixels as the library reads them, and the array that holds
// them alive while the GIL is released.
struct Input {
  py::array array;
  tavrel::Pixels pixels;
};

py::array asArray(py::handle image) {
  const bool arrayLike = py::isinstance<py::array>(image) ||
                         py::hasattr(image, "__array_interface__") ||
                         py::hasattr(image, "__array__") || PyObject_CheckBuffer(image.ptr());
  if (!arrayLike) {
    throw py::type_error(
        "image must be an H×W×3 uint8 numpy array or an object with the array "
        "interface (such as a Pillow \"RGB\" image); got " +
        typeName(image));
  }
  // asarray views what it can and copies only what has no array layout yet
  // (a Pillow image hands its bytes over through the array interface).
  return py::module_::import("numpy").attr("asarray")(image);
}

Input readImage(py::handle image, const std::string& alpha) {
  if (alpha != "error" && alpha != "ignore") {
    throw py::value_error("alpha must be \"error\" or \"ignore\"; got \"" + alpha + "\"");
  }
  Input input{asArray(image), {}};
  py::array& array = input.array;
  if (!array.dtype().is(py::dtype::of<std::uint8_t>())) {
    throw py::type_error("image has dtype " + std::string(py::str(array.dtype())) +
                         "; expected uint8 (8 bits a channel, 0 to 255)");
  }
  if (array.ndim() == 2) {
    throw py::value_error("image has shape " + shapeText(array) +
                          ", one value a pixel; expected H×W×3 RGB. A greyscale or palette "
                          "image (Pillow mode \"L\" or \"P\") becomes RGB with .convert(\"RGB\")");
  }
  if (array.ndim() != 3) {
    throw py::value_error("image has shape " + shapeText(array) + "; expected H×W×3 (RGB)");
  }
  const py::ssize_t channels = array.shape(2);
  if (channels == 4 && alpha == "error") {
    throw py::value_error("image has shape " + shapeText(array) +
                          ", 4 channels; expected 3 (RGB). Pass alpha=\"ignore\" to build from "
                          "the first three channels (the fourth is not composited)");
  }
  if (channels != 3 && channels != 4) {
    throw py::value_error("image has shape " + shapeText(array) + ", " + std::to_string(channels) +
                          " channels; expected 3 (RGB)");
  }
  if (array.shape(0) == 0 || array.shape(1) == 0) {
    throw py::value_error("image has shape " + shapeText(array) +
                          ", no pixels; expected at least one row and one column");
  }
  constexpr py::ssize_t kMaxSide = std::numeric_limits<std::uint32_t>::max();
  if (array.shape(0) > kMaxSide || array.shape(1) > kMaxSide) {
    throw py::value_error("image has shape " + shapeText(array) +
                          "; height and width must each be below 2**32");
  }

  const py::ssize_t height = array.shape(0), width = array.shape(1);
  // The library reads rows of packed 3- or 4-byte pixels at any forward row
  // step, so such arrays are read where they lie. Anything else (Fortran
  // order, a column step, channels not adjacent, rows running backwards) is
  // copied once into C order.
  const py::ssize_t pixelStep = channels;  // RGB, or RGB plus an ignored fourth byte
  const bool rowsFit = height == 1 || (array.strides(0) >= width * pixelStep);
  const bool readable = array.strides(2) == 1 && array.strides(1) == pixelStep && rowsFit;
  if (!readable) {
    array = py::module_::import("numpy").attr("ascontiguousarray")(array);
  }
  input.pixels.data = static_cast<const std::uint8_t*>(array.data());
  input.pixels.width = static_cast<std::uint32_t>(width);
  input.pixels.height = static_cast<std::uint32_t>(height);
  input.pixels.rowStride = height == 1 ? 0 : static_cast<std::size_t>(array.strides(0));
  input.pixels.format = channels == 4 ? tavrel::PixelFormat::Rgbx : tavrel::PixelFormat::Rgb;
  return input;
}

// --------------------------------------------------------------- progress --

// Runs on the building thread while the GIL is released. At most every
// kInterval it takes the GIL back for a moment: to let Python run its signal
// handlers (Ctrl-C raises KeyboardInterrupt there) and to call the caller's
// callback. Any Python exception stops the build and is raised again once the
// library has freed what it built.
class ProgressRelay {
 public:
  explicit ProgressRelay(py::object callback) : callback_(std::move(callback)) {}

  bool operator()(double fraction) {
    const auto now = std::chrono::steady_clock::now();
    if (started_ && now - last_ < kInterval) return true;
    started_ = true;
    last_ = now;
    py::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() != 0) return stop();
    if (!callback_.is_none()) {
      try {
        callback_(fraction);
        reported_ = fraction;
      } catch (py::error_already_set& raised) {
        // Never let it through the library: a false answer is the way to stop.
        error_.emplace(std::move(raised));
        return false;
      }
    }
    return true;
  }

  // The build ended normally: a bar that counts to 1 gets there.
  void finish() {
    if (!callback_.is_none() && reported_ < 1.0) callback_(1.0);
  }

  // The Python exception that stopped the build, if any (GIL held).
  std::optional<py::error_already_set>& error() { return error_; }

 private:
  static constexpr std::chrono::milliseconds kInterval{15};

  bool stop() {
    error_.emplace();  // takes over the pending KeyboardInterrupt (or whatever a handler raised)
    return false;
  }

  py::object callback_;
  std::optional<py::error_already_set> error_;
  std::chrono::steady_clock::time_point last_{};
  bool started_ = false;
  double reported_ = -1.0;
};

// ------------------------------------------------------------- hierarchy --

// One split record as numpy sees it (see splitDtype).
struct SplitRecord {
  std::uint32_t node;
  std::uint64_t pixels;
  std::uint8_t left[3];
  std::uint8_t right[3];
  double cost;
};

py::dtype splitDtype() {
  py::dict fields;
  fields["names"] = py::make_tuple("node", "pixels", "left", "right", "cost");
  fields["formats"] =
      py::make_tuple("<u4", "<u8", py::make_tuple("u1", 3), py::make_tuple("u1", 3), "<f8");
  fields["offsets"] = py::make_tuple(offsetof(SplitRecord, node), offsetof(SplitRecord, pixels),
                                     offsetof(SplitRecord, left), offsetof(SplitRecord, right),
                                     offsetof(SplitRecord, cost));
  fields["itemsize"] = sizeof(SplitRecord);
  return py::dtype::from_args(fields);
}

class PyHierarchy {
 public:
  explicit PyHierarchy(tavrel::Hierarchy hierarchy) : h_(std::move(hierarchy)) {}

  const tavrel::Hierarchy& get() const { return h_; }
  std::uint32_t colours() const { return h_.colours(); }
  py::tuple shape() const { return py::make_tuple(h_.height(), h_.width()); }

  // k as Python gives it, checked against 1..colours().
  std::uint32_t checkK(std::int64_t k, const char* name = "k") const {
    if (k < 1 || k > static_cast<std::int64_t>(h_.colours())) {
      throw py::value_error(std::string(name) + " must be between 1 and " +
                            std::to_string(h_.colours()) +
                            " (the number of distinct colours); got " + std::to_string(k));
    }
    return static_cast<std::uint32_t>(k);
  }

  py::array_t<std::uint8_t> palette(std::int64_t k) const {
    const std::vector<tavrel::Colour> colours = h_.palette(checkK(k));
    return colourArray(colours);
  }

  py::array image(std::int64_t k, const std::string& remap) const {
    const std::uint32_t kk = checkK(k);
    const tavrel::Remap how = readRemap(remap);
    py::array_t<std::uint8_t> out(
        {py::ssize_t(h_.height()), py::ssize_t(h_.width()), py::ssize_t(3)});
    paintInto(kk, tavrel::OutputFormat::Rgb, how, out);
    return out;
  }

  py::array indices(std::int64_t k, const std::string& remap) const {
    const std::uint32_t kk = checkK(k);
    const tavrel::Remap how = readRemap(remap);
    const std::vector<py::ssize_t> shape{h_.height(), h_.width()};
    if (kk <= 256) return painted<std::uint8_t>(kk, tavrel::OutputFormat::Index8, how, shape);
    if (kk <= 65536) return painted<std::uint16_t>(kk, tavrel::OutputFormat::Index16, how, shape);
    return painted<std::uint32_t>(kk, tavrel::OutputFormat::Index32, how, shape);
  }

  py::array_t<double> meanDeltaE(std::int64_t kmax, const std::string& remap) const {
    const std::uint32_t k = checkK(kmax, "kmax");
    const tavrel::Remap how = readRemap(remap);
    std::vector<double> curve;
    {
      py::gil_scoped_release nogil;
      curve = h_.meanDeltaE(k, how);
    }
    py::array_t<double> out(static_cast<py::ssize_t>(curve.size()));
    std::memcpy(out.mutable_data(), curve.data(), curve.size() * sizeof(double));
    return out;
  }

  std::uint32_t fewestColours(double target, const std::string& remap) const {
    if (!(target >= 0.0)) {
      throw py::value_error("max_mean_delta_e must be a number at or above 0; got " +
                            std::string(py::str(py::float_(target))));
    }
    const tavrel::Remap how = readRemap(remap);
    py::gil_scoped_release nogil;
    return h_.fewestColours(target, how);
  }

  py::array splits() const {
    const std::vector<tavrel::Split> splits = h_.splits();
    py::array out(splitDtype(), std::vector<py::ssize_t>{static_cast<py::ssize_t>(splits.size())});
    auto* records = static_cast<SplitRecord*>(out.mutable_data());
    for (std::size_t s = 0; s < splits.size(); ++s) {
      SplitRecord record{};
      record.node = splits[s].node;
      record.pixels = splits[s].pixels;
      record.left[0] = splits[s].left.r;
      record.left[1] = splits[s].left.g;
      record.left[2] = splits[s].left.b;
      record.right[0] = splits[s].right.r;
      record.right[1] = splits[s].right.g;
      record.right[2] = splits[s].right.b;
      record.cost = splits[s].cost;
      std::memcpy(records + s, &record, sizeof record);
    }
    return out;
  }

  std::string pathLabel(std::int64_t step) const {
    const std::int64_t last = static_cast<std::int64_t>(h_.colours()) - 2;
    if (step < 0 || step > last) {
      if (last < 0) {
        throw py::value_error("a one-colour image has no split steps; got step " +
                              std::to_string(step));
      }
      throw py::value_error("step must be between 0 and " + std::to_string(last) +
                            " (the number of distinct colours - 2); got " + std::to_string(step));
    }
    return h_.pathLabel(static_cast<std::uint32_t>(step));
  }

  py::array_t<double> linkage() const {
    if (h_.colours() < 2) {
      throw py::value_error(
          "a one-colour image has no linkage: its single colour is never "
          "merged, and scipy needs at least two observations");
    }
    std::vector<double> rows;
    {
      py::gil_scoped_release nogil;
      rows = h_.linkage();
    }
    py::array_t<double> out({static_cast<py::ssize_t>(rows.size() / 4), py::ssize_t(4)});
    std::memcpy(out.mutable_data(), rows.data(), rows.size() * sizeof(double));
    return out;
  }

  py::array_t<std::uint8_t> leafColours() const { return colourArray(h_.leafColours()); }

  py::object toPil(std::int64_t k, const std::string& remap) const {
    const std::uint32_t kk = checkK(k);
    readRemap(remap);  // a wrong value is named before a k too large for Pillow
    if (kk > 256) {
      throw py::value_error("a Pillow \"P\" image holds at most 256 colours; got k = " +
                            std::to_string(kk) + " (.image(k) gives the RGB array for any k)");
    }
    py::module_ pil = py::module_::import("PIL.Image");
    py::object indexed = pil.attr("fromarray")(indices(kk, remap), "P");
    const py::array_t<std::uint8_t> colours = palette(kk);
    indexed.attr("putpalette")(
        py::bytes(reinterpret_cast<const char*>(colours.data()), colours.size()), "RGB");
    return indexed;
  }

  std::string repr() const {
    return "<tavrel.Hierarchy shape=(" + std::to_string(h_.height()) + ", " +
           std::to_string(h_.width()) + ") colours=" + std::to_string(h_.colours()) + ">";
  }

 private:
  static py::array_t<std::uint8_t> colourArray(const std::vector<tavrel::Colour>& colours) {
    py::array_t<std::uint8_t> out({static_cast<py::ssize_t>(colours.size()), py::ssize_t(3)});
    std::uint8_t* bytes = out.mutable_data();
    for (const tavrel::Colour& c : colours) {
      *bytes++ = c.r;
      *bytes++ = c.g;
      *bytes++ = c.b;
    }
    return out;
  }

  template <typename T>
  py::array painted(std::uint32_t k, tavrel::OutputFormat format, tavrel::Remap remap,
                    const std::vector<py::ssize_t>& shape) const {
    py::array_t<T> out(shape);
    paintInto(k, format, remap, out);
    return out;
  }

  void paintInto(std::uint32_t k, tavrel::OutputFormat format, tavrel::Remap remap,
                 py::array& out) const {
    tavrel::Output target;
    target.data = out.mutable_data();
    target.size = static_cast<std::size_t>(out.nbytes());
    target.format = format;
    py::gil_scoped_release nogil;
    h_.paint(k, target, remap);
  }

  tavrel::Hierarchy h_;
};

PyHierarchy build(py::handle image, const std::string& alpha, py::object progress) {
  if (!progress.is_none() && !PyCallable_Check(progress.ptr())) {
    throw py::type_error(
        "progress must be callable (it receives the fraction done) or None; "
        "got " +
        typeName(progress));
  }
  const Input input = readImage(image, alpha);
  ProgressRelay relay(std::move(progress));
  tavrel::BuildOptions options;
  options.progress = [&relay](double fraction) { return relay(fraction); };
  std::optional<tavrel::Hierarchy> built;
  try {
    py::gil_scoped_release nogil;
    built.emplace(input.pixels, options);
  } catch (const tavrel::Cancelled&) {
    // The GIL is held again: the release above ended with the unwinding.
    if (relay.error()) throw *relay.error();
    throw;
  }
  relay.finish();
  return PyHierarchy(std::move(*built));
}

// ------------------------------------------------------------ progression --

// Paints k = 1, 2, ... kmax one after the other into one canvas, each step
// repainting only the split cluster, and hands out a copy of each image.
class Progression {
 public:
  Progression(const PyHierarchy& hierarchy, std::int64_t kmax)
      : hierarchy_(hierarchy.get()),
        kmax_(hierarchy.checkK(kmax, "kmax")),
        canvas_(
            {py::ssize_t(hierarchy_.height()), py::ssize_t(hierarchy_.width()), py::ssize_t(3)}) {}

  // The GIL stays held while the cursor moves: it keeps two threads from
  // moving one cursor at once, and a step repaints one cluster only.
  py::tuple next() {
    if (cursor_ && cursor_->k() >= kmax_) throw py::stop_iteration();
    if (!cursor_) {
      tavrel::Output out;
      out.data = canvas_.mutable_data();
      out.size = static_cast<std::size_t>(canvas_.nbytes());
      out.format = tavrel::OutputFormat::Rgb;
      cursor_ = std::make_unique<tavrel::Cursor>(hierarchy_, 1, out);
    } else {
      cursor_->next();
    }
    py::array_t<std::uint8_t> copy({canvas_.shape(0), canvas_.shape(1), canvas_.shape(2)});
    std::memcpy(copy.mutable_data(), canvas_.data(), static_cast<std::size_t>(canvas_.nbytes()));
    return py::make_tuple(cursor_->k(), copy);
  }

  std::size_t remaining() const { return kmax_ - (cursor_ ? cursor_->k() : 0); }

 private:
  tavrel::Hierarchy hierarchy_;
  std::uint32_t kmax_;
  py::array_t<std::uint8_t> canvas_;        // the cursor paints here; declared first,
  std::unique_ptr<tavrel::Cursor> cursor_;  // so it outlives the cursor
};

}  // namespace

PYBIND11_MODULE(_tavrel, m) {
  // Every docstring opens with its call as users write it; pybind11's own
  // signature would name the extension's internal module.
  py::options options;
  options.disable_function_signatures();
  m.doc() = tavrel::python::kModuleDoc;
  m.attr("__version__") = tavrel::version();

  py::register_exception_translator([](std::exception_ptr thrown) {
    try {
      if (thrown) std::rethrow_exception(thrown);
    } catch (const tavrel::OutOfMemory& e) {
      std::string text = e.what();
      if (e.colours() > 0) text += " (" + std::to_string(e.colours()) + " distinct colours)";
      PyErr_SetString(PyExc_MemoryError, text.c_str());
    } catch (const tavrel::InvalidArgument& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const tavrel::Error& e) {
      PyErr_SetString(PyExc_RuntimeError, e.what());
    }
  });

  py::class_<PyHierarchy> hierarchy(m, "Hierarchy", tavrel::python::kHierarchyDoc);
  hierarchy
      .def(py::init(&build), py::arg("image"), py::kw_only(), py::arg("alpha") = "error",
           py::arg("progress") = py::none(), tavrel::python::kInitDoc)
      .def_property_readonly("colours", &PyHierarchy::colours, tavrel::python::kColoursDoc)
      .def_property_readonly("shape", &PyHierarchy::shape, tavrel::python::kShapeDoc)
      .def_property_readonly(
          "memory_bytes", [](const PyHierarchy& h) { return h.get().memoryBytes(); },
          tavrel::python::kMemoryDoc)
      .def("palette", &PyHierarchy::palette, py::arg("k"), tavrel::python::kPaletteDoc)
      .def("indices", &PyHierarchy::indices, py::arg("k"), py::kw_only(),
           py::arg("remap") = "cluster", tavrel::python::kIndicesDoc)
      .def("image", &PyHierarchy::image, py::arg("k"), py::kw_only(), py::arg("remap") = "cluster",
           tavrel::python::kImageDoc)
      .def(
          "progression",
          [](const PyHierarchy& h, std::int64_t kmax) { return Progression(h, kmax); },
          py::arg("kmax"), tavrel::python::kProgressionDoc)
      .def("mean_delta_e", &PyHierarchy::meanDeltaE, py::arg("kmax"), py::kw_only(),
           py::arg("remap") = "cluster", tavrel::python::kMeanDeltaEDoc)
      .def("fewest_colours", &PyHierarchy::fewestColours, py::arg("max_mean_delta_e"),
           py::kw_only(), py::arg("remap") = "cluster", tavrel::python::kFewestDoc)
      .def_property_readonly("splits", &PyHierarchy::splits, tavrel::python::kSplitsDoc)
      .def("path_label", &PyHierarchy::pathLabel, py::arg("step"), tavrel::python::kPathDoc)
      .def("linkage", &PyHierarchy::linkage, tavrel::python::kLinkageDoc)
      .def_property_readonly("leaf_colours", &PyHierarchy::leafColours,
                             tavrel::python::kLeafColoursDoc)
      .def("to_pil", &PyHierarchy::toPil, py::arg("k"), py::kw_only(), py::arg("remap") = "cluster",
           tavrel::python::kToPilDoc)
      .def("__repr__", &PyHierarchy::repr);

  py::class_<Progression> progression(m, "Progression", tavrel::python::kProgressionClassDoc);
  progression.def("__iter__", [](py::object self) { return self; })
      .def("__next__", &Progression::next)
      .def("__length_hint__", &Progression::remaining);
  // Users import them from the package tavrel, and help() should say so.
  hierarchy.attr("__module__") = "tavrel";
  progression.attr("__module__") = "tavrel";
}
