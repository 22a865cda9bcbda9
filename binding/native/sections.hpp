// The lossless section stream as Python objects: Sections (the encoding,
// the header lines and the sections) and Section (one section's lines).
#pragma once

#include "mirtle/sections.hpp"
#include "py.hpp"

namespace mirtle_native {

// The process-wide classes (borrowed), created on first use.
PyTypeObject* sections_class();
PyTypeObject* section_class();

// read_sections(data, /, threads=None): the stream of a statement in any
// contiguous buffer, read in two parts at once as `threads` allows
// (mirtle_py::bind_threads); raises the mirtle_py exception that parse
// raises for the same line.
PyObject* read_sections(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;

// The parts of a Sections or Section object (the caller checks the type).
struct SectionsView {
  mirtle::Encoding encoding;
  PyObject* header;    // borrowed list of (lineno, key, value)
  PyObject* sections;  // borrowed list of Section
};
SectionsView sections_view(PyObject* sections) noexcept;
// A Section's lines as a RawSection (a copy).
mirtle::RawSection section_record(PyObject* section);

}  // namespace mirtle_native
