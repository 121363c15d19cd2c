// Computations in pieces, which the binding drives, so that whatever runs
// between two pieces (a conversion, a signal handler: any Python code) runs
// here, never under a computation.
//
// A fold: a list operation's computation, over items of type `Item`:
//   first(item)  optional: takes the first item, when there is one;
//   step(item)   takes each later item (every item, without `first`);
//   finish()     the result, a value or an Outcome, once the items are done.
// A `first` or `step` that returns false stops the fold: the items after it
// are still read (not folded), so whether a list is readable never depends
// on where a fold stops, and a conversion's error comes before the fold's.
// A failure to read the items drops the fold.
//
// A climb: a long computation of numbers alone:
//   advance()    does one piece of the work (a fraction of a millisecond):
//                false once there is no more;
//   finish()     the result.
// The binding runs the signal handlers between two pieces.
#pragma once

#include "binding/items.hpp"
#include "binding/outcome.hpp"

#include <concepts>
#include <cstddef>
#include <expected>
#include <tuple>
#include <type_traits>
#include <utility>

namespace tesmar {

template <class F>
concept Fold = requires(F fold, const F &done, typename F::Item item) {
    fold.step(item);
    done.finish();
};

template <class C>
concept Climb = requires(C climb, const C &done) {
    { climb.advance() } -> std::same_as<bool>;
    done.finish();
};

template <class F>
concept FoldWithFirst = Fold<F> && requires(F fold, typename F::Item item) { fold.first(item); };

// The plain value type of a computation's result, and the result as a
// Result: a computation's own error becomes its failure.
template <class R>
struct Unwrapped {
    using type = R;
};
template <class T, class E>
struct Unwrapped<std::expected<T, E>> {
    using type = T;
};

template <class R>
[[gnu::always_inline]] inline Result<typename Unwrapped<R>::type> as_result(R result)
{
    if constexpr (std::is_same_v<R, Outcome<typename Unwrapped<R>::type>>) {
        if (!result) [[unlikely]] {
            return std::unexpected(op_failure(result.error()));
        }
        return *result;
    }
    else {
        return result;
    }
}

// A step's answer: false when it stopped the fold.
template <class Step>
[[gnu::always_inline]] inline bool folds_on(Step &&step)
{
    if constexpr (std::is_same_v<decltype(step()), bool>) {
        return step();
    }
    else {
        step();
        return true;
    }
}

// Folds `fold` over `items`: its result, or why reading the items failed.
template <Fold F>
[[gnu::always_inline]] inline auto drive(F fold, const Items<typename F::Item> &items)
    -> Result<typename Unwrapped<decltype(fold.finish())>::type>
{
    using T = typename F::Item;
    auto step = [&] [[gnu::always_inline]] (T item) {
        return folds_on([&] [[gnu::always_inline]] { return fold.step(item); });
    };
    Result<void> read;
    if constexpr (FoldWithFirst<F>) {
        T first{};
        bool taken = false;
        read = items.front().each([&](T item) {
            first = item;
            taken = true;
        });
        if (read && taken) {
            if (folds_on([&] [[gnu::always_inline]] { return fold.first(first); })) {
                read = items.rest().each(step);
            }
            else {
                read = items.rest().each([](T /*item*/) { return false; });
            }
        }
    }
    else {
        read = items.each(step);
    }
    if (!read) [[unlikely]] {
        return std::unexpected(std::move(read).error());
    }
    return as_result(fold.finish());
}

// Climbs `climb` to its end, running the signal handlers between two
// pieces: its result, or the failure of a handler that raised.
template <Climb C>
[[gnu::always_inline]] inline auto drive(C climb)
    -> Result<typename Unwrapped<decltype(climb.finish())>::type>
{
    while (climb.advance()) {
        if (auto handled = run_signal_handlers(); !handled) {
            return std::unexpected(std::move(handled).error());
        }
    }
    return as_result(climb.finish());
}

template <class R, class... A>
R returned_by(R (*)(A...));
template <class R, class... A>
R returned_by(R (*)(A...) noexcept);

// What calling a computation gives, as a Result: its result, or, for a
// fold, its result driven over the items, which come last in `values`,
// and for a climb, its result climbed to the end.
template <auto Op, class... V>
[[gnu::always_inline]] inline auto run_computation(V... values)
{
    using Made = decltype(returned_by(Op));
    if constexpr (Fold<Made>) {
        return [&]<std::size_t... I>(std::index_sequence<I...>) {
            const auto taken = std::tie(values...);
            return drive(Op(std::get<I>(taken)...), std::get<sizeof...(V) - 1>(taken));
        }(std::make_index_sequence<sizeof...(V) - 1>{});
    }
    else if constexpr (Climb<Made>) {
        return drive(Op(values...));
    }
    else {
        return as_result(Op(values...));
    }
}

}  // namespace tesmar
