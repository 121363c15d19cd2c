// Reference handles: an Owned handle holds a strong reference and releases
// it, so no body ever balances Py_INCREF/Py_DECREF by hand. A bare
// PyObject * is always borrowed: someone else keeps it alive.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace tesmar {

// A strong reference that this handle releases.
class Owned {
public:
    constexpr Owned() noexcept = default;
    // Takes over a new reference (a C API result); null stays null.
    [[nodiscard]] static Owned steal(PyObject *object) noexcept { return Owned(object); }
    // Adds a reference of our own to a borrowed one.
    [[nodiscard]] static Owned borrow(PyObject *object) noexcept
    {
        Py_XINCREF(object);
        return Owned(object);
    }

    Owned(const Owned &) = delete;
    Owned &operator=(const Owned &) = delete;
    Owned(Owned &&other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Owned &operator=(Owned &&other) noexcept
    {
        Owned(std::move(other)).swap(*this);
        return *this;
    }
    ~Owned() { Py_XDECREF(object_); }

    void swap(Owned &other) noexcept { std::swap(object_, other.object_); }
    [[nodiscard]] PyObject *get() const noexcept { return object_; }
    // Hands the reference to the caller (CPython, usually).
    [[nodiscard]] PyObject *release() noexcept { return std::exchange(object_, nullptr); }
    explicit operator bool() const noexcept { return object_ != nullptr; }

private:
    constexpr explicit Owned(PyObject *object) noexcept : object_(object) {}
    PyObject *object_ = nullptr;
};

}  // namespace tesmar
