// The _tessaline module: its definition and the table of its seventeen
// functions, in registration order, with argument names, defaults and
// docstrings. Each function is a thin wrapper declared in wrappers.hpp.
#include <pybind11/pybind11.h>

#include "tessaline/tessaline.hpp"
#include "wrappers.hpp"

namespace py = pybind11;
namespace w = tessaline::bindings;

// Multi-phase initialisation: the interpreter-version check runs in
// PyInit__tessaline, this body runs as the execute step. The module keeps no
// per-interpreter state, and does not claim support for sub-interpreters.
PYBIND11_MODULE(_tessaline, m, py::multiple_interpreters::not_supported()) {
    m.doc() = "Python c_api bindings for the tessaline C++ library";

    m.def("suma", &tessaline::suma, "Suma dos valores");
    m.def("compute_boundaries", &w::compute_boundaries, py::arg("x"), py::arg("y"),
          py::arg("sorted") = true,
          "Calcula boundaries; requiere que x,y ya vengan limpios/ordenados (sorted=True)");
    m.def("compute_boundaries_raw", &w::compute_boundaries_raw, py::arg("x"), py::arg("y"),
          py::arg("value") = py::none(), py::arg("percentile") = 50.0,
          "Prepara y calcula boundaries en una única llamada nativa");
    m.def("evaluate_segment", &w::evaluate_segment, py::arg("pto_corte"), py::arg("c0"),
          py::arg("c1"), py::arg("L"), py::arg("R"), py::arg("minobs"), py::arg("monotonicity"),
          py::arg("mono_dir"), py::arg("alpha_pos"), py::arg("beta_struct"),
          "Evalúa un segmento concreto (datos ya preprocesados y boundaries ya calculados)");
    m.def("mdlp_full", &w::mdlp_full, py::arg("x"), py::arg("y"), py::arg("minobs"),
          py::arg("monotonicity"), py::arg("mono_dir"), py::arg("alpha_pos"),
          py::arg("beta_struct"), py::arg("force_first_split"),
          "Algoritmo MDLP completo + resumen de segmentos finales");
    m.def("mdlp", &w::mdlp, py::arg("x"), py::arg("y"), py::arg("minobs"), py::arg("monotonicity"),
          py::arg("mono_dir"), py::arg("alpha_pos"), py::arg("beta_struct"),
          py::arg("force_first_split"), "Algoritmo MDLP completo (datos ya limpios/ordenados)");
    m.def("mdlp_raw", &w::mdlp_raw, py::arg("x"), py::arg("y"), py::arg("minobs"),
          py::arg("monotonicity"), py::arg("mono_dir"), py::arg("alpha_pos"),
          py::arg("beta_struct"), py::arg("force_first_split"), py::arg("value") = py::none(),
          py::arg("percentile") = 50.0, "Prepara y ejecuta MDLP en una única llamada nativa");
    m.def("mdlp_full_raw", &w::mdlp_full_raw, py::arg("x"), py::arg("y"), py::arg("minobs"),
          py::arg("monotonicity"), py::arg("mono_dir"), py::arg("alpha_pos"),
          py::arg("beta_struct"), py::arg("force_first_split"), py::arg("value") = py::none(),
          py::arg("percentile") = 50.0, py::arg("representative") = "median",
          "Prepara, ejecuta MDLP y resume missing en una única llamada nativa");
    m.def("preprocess_data_native", &w::preprocess_data_native, py::arg("x"), py::arg("y"),
          py::arg("value") = py::none(), py::arg("percentile") = 50.0,
          "Preprocesado compartido: filtra, binariza y ordena en C++");
    m.def("binning_splits", &w::binning_splits, py::arg("x"), py::arg("method"), py::arg("n_bins"),
          py::arg("range"), py::arg("lower_quantile"), py::arg("upper_quantile"), py::arg("k"),
          py::arg("custom_splits"));
    m.def("binning_transform", &w::binning_transform, py::arg("x"), py::arg("splits"));
    m.def("binning_summary_binary", &w::binning_summary_binary, py::arg("x"), py::arg("y"),
          py::arg("splits"), py::arg("representative") = "median");
    m.def("binning_summary_continuous", &w::binning_summary_continuous, py::arg("x"), py::arg("y"),
          py::arg("splits"), py::arg("representative") = "median");
    m.def("compare_distributions_native", &w::compare_distributions_native, py::arg("reference"),
          py::arg("current"), py::arg("splits"), py::arg("epsilon") = 1e-12);
    m.def("lorenz_curve_native", &w::lorenz_curve_native, py::arg("x"), py::arg("y"));
    m.def("membership_native", &w::membership_native, py::arg("x"), py::arg("representatives"));
    m.def("aggregate_membership_native", &w::aggregate_membership_native, py::arg("membership"),
          py::arg("values"), py::arg("standardize") = false);
}
