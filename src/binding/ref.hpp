// Reference handles: the type says whether a reference is owned or borrowed,
// so no body ever balances Py_INCREF/Py_DECREF by hand.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace tesmar {

// A reference someone else keeps alive for as long as we look at it.
class Borrowed {
public:
    constexpr Borrowed() noexcept = default;
    constexpr explicit Borrowed(PyObject *object) noexcept : object_(object) {}
    [[nodiscard]] constexpr PyObject *get() const noexcept { return object_; }
    constexpr explicit operator bool() const noexcept { return object_ != nullptr; }

private:
    PyObject *object_ = nullptr;
};

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
    [[nodiscard]] static Owned borrow(Borrowed object) noexcept { return borrow(object.get()); }

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
    [[nodiscard]] Borrowed borrowed() const noexcept { return Borrowed(object_); }
    // Hands the reference to the caller (CPython, usually).
    [[nodiscard]] PyObject *release() noexcept { return std::exchange(object_, nullptr); }
    explicit operator bool() const noexcept { return object_ != nullptr; }

private:
    constexpr explicit Owned(PyObject *object) noexcept : object_(object) {}
    PyObject *object_ = nullptr;
};

// A buffer view of an object (PyObject_GetBuffer), released when the
// handle ends. Once taken over, only the view's owner is used: its shape and
// strides may point into the view itself, which moves with the handle.
class HeldBuffer {
public:
    HeldBuffer() noexcept = default;
    explicit HeldBuffer(const Py_buffer &view) noexcept : view_(view) {}
    HeldBuffer(const HeldBuffer &) = delete;
    HeldBuffer &operator=(const HeldBuffer &) = delete;
    HeldBuffer(HeldBuffer &&other) noexcept : view_(std::exchange(other.view_, Py_buffer{})) {}
    HeldBuffer &operator=(HeldBuffer &&other) noexcept
    {
        std::swap(view_, other.view_);
        return *this;
    }
    ~HeldBuffer()
    {
        if (view_.obj != nullptr) {
            PyBuffer_Release(&view_);
        }
    }

private:
    Py_buffer view_{};
};

}  // namespace tesmar
