import _tessaline


def test_module_docstring():
    assert _tessaline.__doc__ == "Python c_api bindings for the tessaline C++ library"
