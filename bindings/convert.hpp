// Conversions shared by every wrapper: array arguments, the optional threshold
// `value`, and result arrays built from core vectors and records.
#ifndef TESSALINE_BINDINGS_CONVERT_HPP
#define TESSALINE_BINDINGS_CONVERT_HPP

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstdint>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace tessaline::bindings {

namespace py = pybind11;

// Array arguments: NumPy converts anything array-like, forcing the cast and C
// order; an array that already matches is used in place, without a copy.
using DoubleArray = py::array_t<double, py::array::c_style | py::array::forcecast>;
using Int32Array = py::array_t<int32_t, py::array::c_style | py::array::forcecast>;
using Int64Array = py::array_t<int64_t, py::array::c_style | py::array::forcecast>;

// An array argument that holds counts or labels, as integers of type T. NumPy's
// forced cast would truncate 2.5 to 2 and wrap 2**40 into an int32, silently
// changing the data, so the values are checked first: a float array must hold
// whole numbers and any array only values T can hold; booleans count as 0/1.
// `where` and `name` (the function and the argument) prefix the message.
template <typename T>
py::array_t<T, py::array::c_style | py::array::forcecast> integer_array(const py::handle& object,
                                                                        const char* where,
                                                                        const char* name) {
    using Out = py::array_t<T, py::array::c_style | py::array::forcecast>;
    const auto refuse = [&](const std::string& found) {
        return std::invalid_argument(std::string(where) + ": " + name + " must hold integers (" +
                                     (sizeof(T) == 8 ? "int64" : "int32") + "), not " + found);
    };
    const py::array a = py::array::ensure(object);
    if (!a) throw refuse(std::string(py::repr(object)));
    constexpr double lowest = static_cast<double>(std::numeric_limits<T>::min());
    const char kind = a.dtype().kind();
    const auto check_all = [&](const auto& values, auto fits) {
        const auto* v = values.data();
        for (py::ssize_t i = 0; i < values.size(); ++i) {
            if (!fits(v[i])) throw refuse(std::string(py::repr(py::cast(v[i]))));
        }
    };
    if (kind == 'f') {
        // -lowest is 2^63 or 2^31 exactly, the first whole number out of range.
        check_all(DoubleArray::ensure(a),
                  [](double v) { return v >= lowest && v < -lowest && v == std::floor(v); });
    } else if (kind == 'u') {
        check_all(
            py::array_t<uint64_t, py::array::c_style | py::array::forcecast>::ensure(a),
            [](uint64_t v) { return v <= static_cast<uint64_t>(std::numeric_limits<T>::max()); });
    } else if (kind == 'i' && a.dtype().itemsize() > static_cast<py::ssize_t>(sizeof(T))) {
        check_all(Int64Array::ensure(a), [](int64_t v) {
            return v >= std::numeric_limits<T>::min() && v <= std::numeric_limits<T>::max();
        });
    } else if (kind != 'i' && kind != 'b') {
        throw refuse("an array of dtype " + std::string(py::str(a.dtype())));
    }
    return Out::ensure(a);
}

// Flat read-only view of an array argument: first element and element count
// (the product of the shape, so 1 for a zero-dimensional array).
template <typename T>
struct FlatView {
    const T* data;
    std::size_t size;
};

template <typename T, int Flags>
FlatView<T> flat_view(const py::array_t<T, Flags>& a) {
    return FlatView<T>{a.data(), static_cast<std::size_t>(a.size())};
}

// Row-wise functions need x and y of one length; `operation` prefixes the
// message as the function's other messages are prefixed.
template <typename X, typename Y>
void require_same_length(const FlatView<X>& x, const FlatView<Y>& y, const char* operation) {
    if (x.size != y.size) {
        throw std::invalid_argument(std::string(operation) +
                                    ": x e y deben tener la misma longitud");
    }
}

// None gives no threshold; anything else must convert to a float (a failed
// conversion raises the binding library's cast error, seen as RuntimeError).
inline std::optional<double> optional_from_object(const py::object& value) {
    if (value.is_none()) return std::nullopt;
    return py::cast<double>(value);
}

// Element type of the NumPy array a core element type becomes: counts and
// indices (std::size_t) are reported as int64.
template <typename T>
using numpy_element_t = std::conditional_t<std::is_same_v<T, std::size_t>, int64_t, T>;

// A new one-dimensional array holding a copy of v.
template <typename T>
py::array_t<numpy_element_t<T>> array_from_vector(const std::vector<T>& v) {
    using Out = numpy_element_t<T>;
    py::array_t<Out> out(static_cast<py::ssize_t>(v.size()));
    if (!v.empty()) {
        if constexpr (std::is_same_v<Out, T>) {
            std::memcpy(out.mutable_data(), v.data(), v.size() * sizeof(T));
        } else {
            Out* dst = out.mutable_data();
            for (std::size_t i = 0; i < v.size(); ++i) dst[i] = static_cast<Out>(v[i]);
        }
    }
    return out;
}

// A one-dimensional array over v's own storage, without a copy: the vector
// moves into a capsule that the array keeps alive.
template <typename T>
py::array_t<T> array_taking(std::vector<T>&& v) {
    auto owner = std::make_unique<std::vector<T>>(std::move(v));
    const py::capsule base(owner.get(), [](void* p) { delete static_cast<std::vector<T>*>(p); });
    std::vector<T>* held = owner.release();
    return py::array_t<T>(static_cast<py::ssize_t>(held->size()), held->data(), base);
}

// A new one-dimensional array holding one field of every record, in order,
// written straight from the records without an intermediate vector.
template <typename Record, typename Field>
py::array_t<numpy_element_t<Field>> column(const std::vector<Record>& rows, Field Record::* field) {
    using Out = numpy_element_t<Field>;
    py::array_t<Out> out(static_cast<py::ssize_t>(rows.size()));
    Out* dst = out.mutable_data();
    for (std::size_t i = 0; i < rows.size(); ++i) dst[i] = static_cast<Out>(rows[i].*field);
    return out;
}

}  // namespace tessaline::bindings

#endif  // TESSALINE_BINDINGS_CONVERT_HPP
