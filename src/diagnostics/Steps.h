#pragma once

#include "diagnostics/ErrorReport.h"
#include "diagnostics/Failure.h"

#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

namespace parcelon {

class Desktop;

// The numbered-step guard of a command procedure. Each action of the
// procedure runs through one of these calls with its step number; a failed
// action shows the error report naming the procedure and the step, and the
// procedure goes on with what follows:
//   run     a simple action (or the last one): the next action follows;
//   assign  an action that yields a value: the target changes only on success;
//   test    the test of a branch: a failed test counts as taken;
//   count   the head of a counted loop: a failed head makes the loop empty;
//   forCount a counted loop from 1 to a bound read once at its head, with
//           the step that advances the counter: a failed advance leaves the loop.
// ProgramEnding is not a failure and passes through untouched.
class Steps {
public:
    Steps(const ReportLocation& where, Desktop& desktop) : m_where(where), m_desktop(desktop) {}

    // The same actions for code that has no numbered steps of its own: they
    // run in the same order, and the first failure reaches the caller.
    static Steps unguarded(Desktop& desktop)
    {
        Steps steps({}, desktop);
        steps.m_guarded = false;
        return steps;
    }

    template <class Action>
    bool run(int line, Action&& action)
    {
        return guarded(line, [&] { std::forward<Action>(action)(); });
    }

    template <class T, class Action>
    bool assign(int line, T& target, Action&& action)
    {
        return guarded(line, [&] { target = std::forward<Action>(action)(); });
    }

    template <class Condition>
    bool test(int line, Condition&& condition)
    {
        bool result = true;
        guarded(line, [&] { result = static_cast<bool>(std::forward<Condition>(condition)()); });
        return result;
    }

    template <class Bound>
    auto count(int line, Bound&& bound) -> std::optional<std::decay_t<decltype(bound())>>
    {
        std::optional<std::decay_t<decltype(bound())>> result;
        guarded(line, [&] { result = std::forward<Bound>(bound)(); });
        return result;
    }

    // for counter = 1 to bound() ... next: body(counter) runs for each value.
    template <class Bound, class Body>
    void forCount(int headLine, int nextLine, Bound&& bound, Body&& body)
    {
        const auto last = count(headLine, std::forward<Bound>(bound));
        if (!last)
            return;
        for (std::decay_t<decltype(*last)> counter = 1; counter <= *last;) {
            body(counter);
            if (!run(nextLine, [&] { ++counter; }))
                return;
        }
    }

    // Shows the report for a failure found by the procedure itself.
    void report(int line, const QString& description);

    const ReportLocation& location() const { return m_where; }

private:
    template <class F>
    bool guarded(int line, F&& f)
    {
        if (!m_guarded) {
            f();
            return true;
        }
        try {
            f();
            return true;
        } catch (const std::exception& e) {
            report(line, failureDescription(e));
        }
        return false;
    }

    ReportLocation m_where;
    Desktop& m_desktop;
    bool m_guarded = true;
};

} // namespace parcelon
