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
//
// A climb: a long computation of numbers alone:
//   advance()    does one piece of the work (a fraction of a millisecond):
//                false once there is no more;
//   finish()     the result.
// The binding polls for signals between two pieces.
#pragma once

#include "binding/items.hpp"
#include "binding/outcome.hpp"

#include <concepts>
#include <cstddef>
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

// Folds `fold` over `items`; its result, which the binding discards when
// reading the items stopped.
template <Fold F>
[[gnu::always_inline]] inline auto drive(F fold, const Items<typename F::Item> &items)
{
    using T = typename F::Item;
    auto step = [&] [[gnu::always_inline]] (T item) {
        return folds_on([&] [[gnu::always_inline]] { return fold.step(item); });
    };
    if constexpr (FoldWithFirst<F>) {
        T first{};
        if (items.take_front(first)) {
            if (folds_on([&] [[gnu::always_inline]] { return fold.first(first); })) {
                items.rest().each(step);
            }
            else {
                items.rest().each([](T /*item*/) { return false; });
            }
        }
    }
    else {
        items.each(step);
    }
    return fold.finish();
}

// Climbs `climb` to its end, polling between two pieces; its result, which
// the binding discards when a poll stopped it.
template <Climb C>
[[gnu::always_inline]] inline auto drive(C climb, const SignalPoll &poll)
{
    while (climb.advance() && poll()) {
    }
    return climb.finish();
}

template <class R, class... A>
R returned_by(R (*)(A...));
template <class R, class... A>
R returned_by(R (*)(A...) noexcept);

// What calling a computation gives: its result, or, for a fold or a climb,
// its result driven over what comes last in `values`: the items, or the
// signal poll.
template <auto Op, class... V>
[[gnu::always_inline]] inline auto run_computation(V... values)
{
    if constexpr (Fold<decltype(returned_by(Op))> || Climb<decltype(returned_by(Op))>) {
        return [&]<std::size_t... I>(std::index_sequence<I...>) {
            const auto taken = std::tie(values...);
            return drive(Op(std::get<I>(taken)...), std::get<sizeof...(V) - 1>(taken));
        }(std::make_index_sequence<sizeof...(V) - 1>{});
    }
    else {
        return Op(values...);
    }
}

}  // namespace tesmar
