// Reference handles: an Owned handle holds a strong reference and releases
// it, so no body ever balances Py_INCREF/Py_DECREF by hand. A bare
// PyObject * is always borrowed: someone else keeps it alive.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>
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

// A buffer view of an object (PyObject_GetBuffer), released when the
// handle ends. The view itself lives on the heap and never moves: an
// exporter may point its shape and strides into it (array.array does), and
// those pointers stay good for as long as the handle holds the view.
class HeldBuffer {
public:
    HeldBuffer() noexcept = default;
    // Asks `object` for a view; an empty handle, with the exporter's
    // exception pending, when it refuses. Memory running out throws.
    [[nodiscard]] static HeldBuffer request(PyObject *object, int flags)
    {
        auto view = std::make_unique<Py_buffer>();
        if (PyObject_GetBuffer(object, view.get(), flags) < 0) {
            return {};
        }
        return HeldBuffer(std::move(view));
    }

    HeldBuffer(HeldBuffer &&) noexcept = default;
    HeldBuffer &operator=(HeldBuffer &&other) noexcept
    {
        std::swap(view_, other.view_);
        return *this;
    }
    HeldBuffer(const HeldBuffer &) = delete;
    HeldBuffer &operator=(const HeldBuffer &) = delete;
    ~HeldBuffer()
    {
        if (view_) {
            PyBuffer_Release(view_.get());
        }
    }

    explicit operator bool() const noexcept { return view_ != nullptr; }
    // The view; only for a handle that holds one.
    [[nodiscard]] const Py_buffer &view() const noexcept { return *view_; }

private:
    explicit HeldBuffer(std::unique_ptr<Py_buffer> view) noexcept : view_(std::move(view)) {}
    std::unique_ptr<Py_buffer> view_;
};

}  // namespace tesmar
