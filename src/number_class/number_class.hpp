// The class Tesmarmath: a double behind a borrow flag. Methods take the
// receiver with shared or exclusive access for the length of one call.
#pragma once

#include "binding/failure.hpp"
#include "binding/texts.hpp"

#include <cstdint>
#include <limits>
#include <string>
#include <utility>

// The class's texts: callers match on these, so they never change.
namespace tesmar::texts {
inline constexpr char class_module[] = "builtins";
inline constexpr char repr_format[] = "{}({})";
inline constexpr char not_an_instance[] = "'{}' object cannot be converted to '{}'";
inline constexpr char already_borrowed[] = "Already borrowed";
inline constexpr char already_mutably_borrowed[] = "Already mutably borrowed";
}  // namespace tesmar::texts

namespace tesmar {

struct NumberObject {
    PyObject_HEAD double number;
    std::uint64_t borrow_flag;  // 0 free, n shared holders, all ones exclusive
};

inline constexpr std::uint64_t held_exclusively = std::numeric_limits<std::uint64_t>::max();

// The class's type object, made at import by create_number_type and kept
// for the process; null before, and after a failed creation (the next
// import tries again). A method can run only once it exists.
extern PyTypeObject *number_type;

// Makes the type object with the method table `methods` (ending in a zeroed
// entry, kept for the process) and stores it in number_type; or why it
// could not.
[[nodiscard]] Result<PyTypeObject *> create_number_type(PyMethodDef *methods);

// A new instance of `type` holding `value`, or the allocator's failure.
[[nodiscard]] inline Result<Owned> allocate_instance(PyTypeObject *type, double value)
{
    // CPython fills tp_alloc in every type it makes; a type that leaves it
    // null still gets the generic allocator.
    allocfunc allocate = type->tp_alloc != nullptr ? type->tp_alloc : PyType_GenericAlloc;
    Owned object = Owned::steal(allocate(type, 0));
    if (!object) [[unlikely]] {
        return fail_with_raised();
    }
    auto *instance = reinterpret_cast<NumberObject *>(object.get());
    instance->number = value;
    instance->borrow_flag = 0;
    return object;
}

// A new instance holding `value` (a method's result instance); failing to
// make it is an internal failure.
[[nodiscard]] inline Owned make_result(double value)
{
    auto made = allocate_instance(number_type, value);
    if (!made) [[unlikely]] {
        raise_failure(std::move(made).error());
        panic_api_call();
    }
    return std::move(*made);
}

enum class Access {
    shared,
    // Shared access for a call that runs no Python code while it holds it:
    // refused as shared access is, but never counted, as nothing could see
    // the count.
    instant,
    exclusive,
};

// The TypeError for a receiver that is not a Tesmarmath.
[[nodiscard]] Failure foreign_receiver(PyObject *self);

// Access to a receiver for one call, taken when made and released on every
// path. The caller keeps the receiver alive for the call, so the access
// holds no reference.
template <Access A>
class Receiver {
public:
    [[gnu::always_inline]] explicit Receiver(PyObject *self)
    {
        // CPython's method descriptors refuse a foreign receiver before we
        // run; this check holds for any caller that reaches an entry itself.
        if (!Py_IS_TYPE(self, number_type) && PyType_IsSubtype(Py_TYPE(self), number_type) == 0)
            [[unlikely]] {
            foreign_ = self;
            return;
        }
        auto *object = reinterpret_cast<NumberObject *>(self);
        if constexpr (A == Access::exclusive) {
            if (object->borrow_flag != 0) [[unlikely]] {
                return;
            }
            object->borrow_flag = held_exclusively;
        }
        else {
            if (object->borrow_flag == held_exclusively) [[unlikely]] {
                return;
            }
            if constexpr (A == Access::shared) {
                ++object->borrow_flag;
            }
        }
        object_ = object;
    }
    Receiver(const Receiver &) = delete;
    Receiver &operator=(const Receiver &) = delete;
    ~Receiver()
    {
        if (object_ == nullptr) {
            return;
        }
        if constexpr (A == Access::shared) {
            --object_->borrow_flag;
        }
        else if constexpr (A == Access::exclusive) {
            object_->borrow_flag = 0;
        }
    }

    // Whether the access was taken; if not, the failure that says why.
    explicit operator bool() const noexcept { return object_ != nullptr; }
    [[nodiscard, gnu::cold]] Failure failure() const
    {
        if (foreign_ != nullptr) {
            return foreign_receiver(foreign_);
        }
        if constexpr (A != Access::exclusive) {
            return Failure::of(PyExc_RuntimeError, texts::already_mutably_borrowed);
        }
        else {
            return Failure::of(PyExc_RuntimeError, texts::already_borrowed);
        }
    }

    [[nodiscard]] double number() const noexcept { return object_->number; }
    void set_number(double value) noexcept
        requires(A == Access::exclusive)
    {
        object_->number = value;
    }

private:
    NumberObject *object_ = nullptr;
    PyObject *foreign_ = nullptr;  // a receiver of another type, refused
};

}  // namespace tesmar
