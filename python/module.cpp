// The pybind11 module `tonwell._tonwell`: the scene data and the offline render of the C++
// program, as numpy arrays. The package `tonwell` (python/tonwell/) wraps it in the Python
// interface (Scene, render's strikes, bake, the report); this file only turns C++ into Python:
// views of the loaded arrays where their layout allows, errors into Python exceptions.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <memory>

#include "python/scene_data.h"
#include "python/scene_render.h"

namespace py = pybind11;

// The library's code branches on the build's scene; the module has none (the folder chooses the
// preset, as for tonwell-render), so no scene-specific branch of the library applies.
extern const int sceneSelector = -1;

namespace {

// A read-only numpy array over `data`, kept alive by `owner` (the SceneData's Python object).
template <typename T>
py::array readOnlyView(const T* data, std::vector<py::ssize_t> shape,
                       std::vector<py::ssize_t> strides, py::handle owner) {
    py::array view(py::dtype::of<T>(), shape, strides, data, owner);
    py::detail::array_proxy(view.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
    return view;
}

py::array modeShapes(py::object self) {
    const SceneData& scene = self.cast<const SceneData&>();
    const ModeShapeMatrix& U = scene.object().modeShapes();
    // values[(v + j * V) * 3 + k]: vertex v, coordinate k, mode j.
    const py::ssize_t d = sizeof(double), V = U.vertexCount;
    return readOnlyView(U.values, {V, 3, U.modeCount}, {3 * d, d, 3 * V * d}, self);
}

py::array frequencies(py::object self) {
    const SceneData& scene = self.cast<const SceneData&>();
    const EngineObject& object = scene.object();
    return readOnlyView(object.modeFrequencies(), {object.modeCount()},
                        {static_cast<py::ssize_t>(sizeof(double))}, self);
}

py::array vertices(py::object self) {
    const SceneData& scene = self.cast<const SceneData&>();
    const ObjModel& mesh = scene.mesh();
    // The reader's array is 1-based: vertex i (0-based) at 3 (i + 1).
    const py::ssize_t f = sizeof(float);
    return readOnlyView(mesh.vertices + 3, {static_cast<py::ssize_t>(mesh.vertexCount), 3},
                        {3 * f, f}, self);
}

py::array_t<int32_t> faces(const SceneData& scene) {
    const ObjModel& mesh = scene.mesh();
    py::array_t<int32_t> result({static_cast<py::ssize_t>(mesh.triangleCount), py::ssize_t{3}});
    auto out = result.mutable_unchecked<2>();
    for (uint32_t t = 0; t < mesh.triangleCount; ++t) {
        for (int c = 0; c < 3; ++c) {
            out(t, c) = static_cast<int32_t>(mesh.triangles[t].vertexIndices[c]) - 1;
        }
    }
    return result;
}

py::array_t<std::complex<double>> transfer(const SceneData& scene, py::object pointsObject) {
    if (!scene.hasTransfer()) {
        throw SceneDataError("scene folder \"" + scene.folder() +
                             "\" holds no acoustic transfer (baked with --modes-only?)");
    }
    py::array_t<double, py::array::c_style | py::array::forcecast> points;
    try {
        points =
            py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(pointsObject);
    } catch (const py::error_already_set&) {
        throw py::value_error("transfer: points must be an array of numbers");
    }
    if (!points || points.ndim() != 2 || points.shape(1) != 3) {
        std::string shape = "(";
        if (points) {
            for (py::ssize_t a = 0; a < points.ndim(); ++a) {
                shape += (a ? ", " : "") + std::to_string(points.shape(a));
            }
        }
        throw py::value_error("transfer: points must have the shape (N, 3), not " + shape +
                              (points && points.ndim() == 1 ? ",)" : ")"));
    }
    const py::ssize_t N = points.shape(0);
    const double* p = points.data();
    for (py::ssize_t n = 0; n < 3 * N; ++n) {
        if (!std::isfinite(p[n])) {
            throw py::value_error("transfer: point " + std::to_string(n / 3) +
                                  " has a coordinate that is not finite");
        }
    }
    const int M = scene.object().modeCount();
    py::array_t<std::complex<double>> result({static_cast<py::ssize_t>(M), N});
    std::complex<double>* out = result.mutable_data();
    std::vector<std::complex<double>> column(M);
    for (py::ssize_t n = 0; n < N; ++n) {
        scene.object().transfer().evaluateTransferPressure(
            p + 3 * n, reinterpret_cast<double*>(column.data()), M);
        for (int i = 0; i < M; ++i) out[i * N + n] = column[i];
    }
    return result;
}

py::array_t<float> render(const std::vector<std::string>& arguments) {
    int channels = 1;
    std::vector<float> samples = renderWithArguments(arguments, &channels);
    const py::ssize_t frames = static_cast<py::ssize_t>(samples.size()) / channels;
    std::vector<py::ssize_t> shape = {frames};
    if (channels == 2) shape.push_back(2);
    py::array_t<float> result(shape);
    if (!samples.empty())
        memcpy(result.mutable_data(), samples.data(), sizeof(float) * samples.size());
    return result;
}

py::dict listener(const std::vector<std::string>& arguments) {
    ListenerPoints points;
    ObjectPose pose;
    renderListener(arguments, &points, &pose);
    auto vector3 = [](const double* v) {
        py::array_t<double> a(3);
        memcpy(a.mutable_data(), v, 3 * sizeof(double));
        return a;
    };
    py::array_t<double> rotation({3, 3});
    memcpy(rotation.mutable_data(), pose.rotation, 9 * sizeof(double));
    py::dict result;
    result["eye"] = vector3(points.eye);
    result["left_ear"] = vector3(points.leftEar);
    result["right_ear"] = vector3(points.rightEar);
    result["rotation"] = rotation;
    result["translation"] = vector3(pose.translation);
    return result;
}

}  // namespace

PYBIND11_MODULE(_tonwell, m) {
    m.doc() =
        "The compiled core of the tonwell package: a scene folder read with the program's own\n"
        "readers (SceneData) and tonwell-render's offline render (render, listener). Use the\n"
        "package's Scene, render and bake rather than this module.";

    py::register_exception<SceneDataError>(m, "SceneError", PyExc_RuntimeError).doc() =
        "A scene folder's file is missing or broken; the message is the reader's.";
    py::register_exception_translator([](std::exception_ptr thrown) {
        try {
            if (thrown) std::rethrow_exception(thrown);
        } catch (const SceneFolderMissing& missing) {
            PyErr_SetString(PyExc_FileNotFoundError, missing.what());
        } catch (const RenderArgumentError& bad) {
            PyErr_SetString(PyExc_ValueError, bad.what());
        }
    });

    py::class_<SceneData>(m, "SceneData",
                          "A baked scene folder read with the program's readers (read-only).")
        .def(py::init<const std::string&>(), py::arg("folder"),
             "Reads the scene folder: its preset, mesh, mode shapes, frequencies and transfer.\n"
             "Raises FileNotFoundError for a missing folder, SceneError with the reader's\n"
             "message for a missing or broken file.")
        .def_property_readonly("folder", &SceneData::folder, "The folder, absolute.")
        .def_property_readonly("name", &SceneData::name, "The folder's last component.")
        .def_property_readonly("has_transfer", &SceneData::hasTransfer,
                               "Whether the folder holds the acoustic transfer.")
        .def_property_readonly("mass_damping", &SceneData::massDamping,
                               "The preset's Rayleigh alpha, 1/s.")
        .def_property_readonly("stiffness_damping", &SceneData::stiffnessDamping,
                               "The preset's Rayleigh beta, s.")
        .def_property_readonly("impact_magnitude", &SceneData::impactMagnitude,
                               "The preset strike's magnitude (program force units).")
        .def_property_readonly("frequencies", &frequencies,
                               "Mode frequencies in Hz, shape (modes,): a read-only view.")
        .def_property_readonly("mode_shapes", &modeShapes,
                               "Mode shapes, shape (vertices, 3, modes), float64: a read-only\n"
                               "view of the .U matrix (mass-normalised times the force unit).")
        .def_property_readonly("vertices", &vertices,
                               "Mesh vertices, shape (vertices, 3), float32 as the OBJ reader\n"
                               "holds them: a read-only view.")
        .def_property_readonly("faces", &faces,
                               "Mesh triangles as 0-based vertex indices, shape (triangles, 3),\n"
                               "int32: a copy (the reader interleaves other indices).")
        .def("transfer", &transfer, py::arg("points"),
             "Complex pressure of every mode at N points (object frame, metres), shape\n"
             "(modes, N), from the scene's multipole sources (e^{+i omega t}).");

    m.def("render", &render, py::arg("arguments"),
          "Renders tonwell-render's command line (folder, -o NAME, options) in-process;\n"
          "float32 samples, shape (frames,) mono or (frames, 2) stereo.");
    m.def("listener", &listener, py::arg("arguments"),
          "The listener (eye, left_ear, right_ear) and the object's rest pose (rotation,\n"
          "translation: world = rotation @ p + translation) a render of these arguments uses.");
}
