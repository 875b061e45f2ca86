// The fault matrix: every host operation the effect calls, failed at every
// position where a successful command calls it, one fault per command. The
// outcome is checked against what the host interface promises for that step:
// the code returned, what out_data holds, that no pixel is written when the
// failure comes before the render, and that checkouts go back.
#include "robust_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace ruvivedu::host;

namespace {

// Codes the host returns for an injected failure: a PF error for the effect
// callbacks, an SP error for the basic suite, a negative count for sprintf.
constexpr PF_Err kPfFault = PF_Err_INTERNAL_STRUCT_DAMAGED;
constexpr PF_Err kSpFault = sp_bad_parameter;
constexpr PF_Err kSprintfFault = -1;

PF_Err fault_code(HostOp op)
{
    switch (op) {
    case HostOp::acquire_suite:
    case HostOp::release_suite:
        return kSpFault;
    case HostOp::ansi_sprintf:
        return kSprintfFault;
    default:
        return kPfFault;
    }
}

// The result rectangle the pre-render scenario's host starts with.
constexpr PF_LRect kHostResultRect{2, 3, 10, 12};

bool same_rect(const PF_LRect& a, const PF_LRect& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// A recognisable out_data, so that any byte the effect writes shows.
void fill_out_data(SubstituteHost& host)
{
    std::memset(&host.initial_out_data(), 0x5A, sizeof(PF_OutData));
    host.initial_out_data().out_flags = 0;
    host.initial_out_data().return_msg[0] = '\0';
}

/// One command in one situation, from a fresh host to its result.
struct Scenario {
    std::string name;
    Depth depth;
    std::function<void(SubstituteHost&)> prepare;  // worlds and options, before setup_effect
    std::function<PF_Err(SubstituteHost&)> run;
    bool renders;             // a successful run writes pixels
    bool gives_suite = true;  // AcquireSuite hands out a pointer when it succeeds
};

/// Everything a run left that the matrix looks at.
struct Outcome {
    PF_Err result = PF_Err_NONE;
    std::vector<HostOp> ops;
    std::vector<std::string> host_errors;
    std::vector<unsigned char> out_data;
    std::string return_msg;
    PF_OutFlags out_flags = 0;
    std::vector<unsigned char> pixels;
    bool guards_intact = true;
    int checkouts_ok = 0;  // parameter checkouts that succeeded
    int checkins = 0;
    int releases = 0;
    int suites_given = 0;
    PF_PreRenderOutput pre_render{};
    std::deque<DeclaredParam> declared;
};

int count_ok(const std::vector<HostCall>& calls, HostOp op)
{
    int n = 0;
    for (const HostCall& c : calls)
        n += c.op == op && c.result == PF_Err_NONE;
    return n;
}

Outcome run(const Scenario& s, std::optional<std::pair<HostOp, int>> fault)
{
    SubstituteHost host(robust::plugin_module());
    s.prepare(host);
    fill_out_data(host);
    if (fault)
        host.fail(fault->first, fault_code(fault->first), fault->second);
    Outcome o;
    o.result = s.run(host);
    for (const HostCall& c : host.calls())
        o.ops.push_back(c.op);
    o.host_errors = host.errors();
    o.out_data = host.out_data_bytes();
    o.return_msg = host.return_msg();
    o.out_flags = host.out_data().out_flags;
    if (host.output()) {
        o.pixels = host.output()->packed_pixels();
        o.guards_intact = host.output()->guards_intact() && host.input()->guards_intact();
    }
    o.checkouts_ok = count_ok(host.calls(), HostOp::checkout_param);
    o.checkins = host.count(HostOp::checkin_param);
    o.releases = host.count(HostOp::release_suite);
    o.suites_given = s.gives_suite ? count_ok(host.calls(), HostOp::acquire_suite) : 0;
    o.pre_render = host.pre_render_output();
    o.declared = host.declared_params();
    return o;
}

std::vector<unsigned char> blank_pixels(const Scenario& s)
{
    SubstituteHost host(robust::plugin_module());
    s.prepare(host);
    return host.output() ? host.output()->packed_pixels() : std::vector<unsigned char>{};
}

std::vector<unsigned char> untouched_out_data()
{
    SubstituteHost host(robust::plugin_module());
    fill_out_data(host);
    return host.initial_out_data_bytes();
}

/// What the host interface promises when `op` fails at its `nth` call, given
/// the successful run `good` of the same scenario.
void check(const Scenario& s, const Outcome& good, const std::vector<unsigned char>& blank, HostOp op, int nth,
           const Outcome& got)
{
    const PF_Err code = fault_code(op);
    const std::vector<unsigned char> clean_out_data = untouched_out_data();
    const bool smart = s.name.rfind("smart render", 0) == 0;

    if (smart) {
        // Whatever failed, every parameter checked out went back and the suite
        // was released exactly when it was handed out.
        EXPECT_EQ(got.checkins, got.checkouts_ok);
        EXPECT_EQ(got.releases, got.suites_given);
    }
    EXPECT_TRUE(got.guards_intact);

    switch (op) {
    case HostOp::acquire_suite:
        // An empty suite pointer: the user is told, nothing else is asked.
        EXPECT_EQ(got.result, PF_Err_BAD_CALLBACK_PARAM);
        EXPECT_EQ(got.out_flags, PF_OutFlag_DISPLAY_ERROR_MESSAGE);
        EXPECT_EQ(got.return_msg, "Couldn't load suite.");
        EXPECT_EQ(got.ops, (std::vector<HostOp>{HostOp::acquire_suite, HostOp::ansi_sprintf}));
        EXPECT_EQ(got.pixels, blank);
        EXPECT_TRUE(got.host_errors.empty());
        return;
    case HostOp::checkout_layer_pixels:
    case HostOp::checkout_output:
    case HostOp::checkout_param:
    case HostOp::get_pixel_format:
    case HostOp::copy:
    case HostOp::checkout_layer:
        // Stops with the host's code; the host's records keep what came before.
        EXPECT_EQ(got.result, code);
        EXPECT_EQ(got.out_data, clean_out_data);
        EXPECT_EQ(got.pixels, blank) << "no pixel before the render";
        EXPECT_TRUE(got.host_errors.empty()) << got.host_errors.front();
        if (op == HostOp::checkout_param) {
            EXPECT_EQ(got.checkouts_ok, nth - 1) << "later parameters are not checked out";
        }
        if (op == HostOp::checkout_layer) {
            // The host's rectangles as it passed them in.
            EXPECT_TRUE(same_rect(got.pre_render.result_rect, kHostResultRect));
            EXPECT_TRUE(same_rect(got.pre_render.max_result_rect, PF_LRect{0, 0, 0, 0}));
            EXPECT_FALSE(same_rect(good.pre_render.max_result_rect, PF_LRect{0, 0, 0, 0}));
        }
        return;
    case HostOp::checkin_param:
    case HostOp::release_suite:
        // After the render (or the pre-render's request): the pixels stand and
        // so does the command's own result, as the frame is good and a basic
        // suite code is no effect code; the remaining check-ins and the release
        // still happen. The host itself notes the one checkout or suite its
        // failed call left behind.
        EXPECT_EQ(got.result, good.result);
        EXPECT_TRUE(same_rect(got.pre_render.result_rect, good.pre_render.result_rect));
        EXPECT_EQ(got.pixels, good.pixels);
        EXPECT_EQ(got.out_data, good.out_data);
        EXPECT_EQ(got.ops, good.ops) << "every check-in and the release are still made";
        EXPECT_EQ(got.host_errors.size(), 1u);
        return;
    case HostOp::ansi_sprintf:
        // The message could not be written: nothing else changes.
        EXPECT_EQ(got.result, good.result);
        EXPECT_EQ(got.return_msg, "");
        EXPECT_EQ(got.out_flags, good.out_flags);
        EXPECT_EQ(got.pixels, good.pixels);
        EXPECT_EQ(got.ops, good.ops);
        return;
    case HostOp::ansi_strcpy:
        // A name the host did not copy stays empty; the declaration goes on.
        EXPECT_EQ(got.result, PF_Err_NONE);
        ASSERT_EQ(got.declared.size(), good.declared.size());
        EXPECT_EQ(got.declared[static_cast<std::size_t>(nth) - 1].name, "");
        EXPECT_EQ(got.out_data, good.out_data);
        return;
    case HostOp::add_param:
        // The declaration stops at the refused parameter; num_params stays unwritten.
        EXPECT_EQ(got.result, code);
        EXPECT_EQ(got.declared.size(), static_cast<std::size_t>(nth) - 1);
        EXPECT_EQ(got.out_data, clean_out_data);
        return;
    case HostOp::registration:
        EXPECT_EQ(got.result, code) << "the callback's code goes back unchanged";
        return;
    default:
        ADD_FAILURE() << "the effect called " << op_name(op) << ", which the matrix does not know";
    }
}

void prepare_worlds(SubstituteHost& host, Depth depth)
{
    host.set_input(robust::make_layer(depth, 48, 40, 8, 3));
    host.set_output(World::padded(depth, 48, 40, 8));
}

std::vector<Scenario> scenarios()
{
    std::vector<Scenario> list;
    auto setup = [](SubstituteHost& h) { ASSERT_EQ(h.setup_effect(), PF_Err_NONE); };
    for (Depth depth : {Depth::u8, Depth::u16, Depth::f32}) {
        const std::string d = depth == Depth::u8 ? " 8-bit" : depth == Depth::u16 ? " 16-bit" : " float";
        list.push_back({"smart render" + d, depth,
                        [=](SubstituteHost& h) {
                            prepare_worlds(h, depth);
                            setup(h);
                        },
                        [](SubstituteHost& h) { return h.smart_render(); }, true});
        list.push_back({"smart render, no output world" + d, depth,
                        [=](SubstituteHost& h) {
                            prepare_worlds(h, depth);
                            h.give_no_output(true);
                            setup(h);
                        },
                        [](SubstituteHost& h) { return h.smart_render(); }, false});
        list.push_back({"pre-render" + d, depth,
                        [=](SubstituteHost& h) {
                            prepare_worlds(h, depth);
                            setup(h);
                            h.initial_pre_render_output().result_rect = kHostResultRect;
                        },
                        [](SubstituteHost& h) {
                            return h.smart_pre_render(PF_LRect{0, 0, 30, 20});
                        },
                        false});
        if (depth != Depth::f32) {
            list.push_back({"classic render" + d, depth,
                            [=](SubstituteHost& h) {
                                prepare_worlds(h, depth);
                                setup(h);
                            },
                            [](SubstituteHost& h) { return h.render(); }, true});
        }
    }
    list.push_back({"smart render, suite pointer empty", Depth::u8,
                    [=](SubstituteHost& h) {
                        prepare_worlds(h, Depth::u8);
                        h.set_suite_offer(SuiteOffer::null_pointer);
                        setup(h);
                    },
                    [](SubstituteHost& h) { return h.smart_render(); }, false, false});
    list.push_back({"classic render, no output world", Depth::u8,
                    [=](SubstituteHost& h) {
                        prepare_worlds(h, Depth::u8);
                        setup(h);
                    },
                    [](SubstituteHost& h) {
                        CallOptions none;
                        none.no_output = true;
                        return h.render(none);
                    },
                    false});
    list.push_back({"parameter declaration", Depth::u8, [](SubstituteHost& h) { h.global_setup(); },
                    [](SubstituteHost& h) { return h.params_setup(); }, false});
    list.push_back({"about", Depth::u8, [](SubstituteHost&) {}, [](SubstituteHost& h) { return h.about(); }, false});
    list.push_back({"registration", Depth::u8, [](SubstituteHost&) {},
                    [](SubstituteHost& h) { return h.register_effect(); }, false});
    return list;
}

}  // namespace

TEST(FaultMatrix, EveryHostCallFailedAtEveryPosition)
{
    int injected = 0;
    std::map<std::string, int> per_op;
    for (const Scenario& s : scenarios()) {
        SCOPED_TRACE(s.name);
        const std::vector<unsigned char> blank = blank_pixels(s);
        const Outcome good = run(s, std::nullopt);
        ASSERT_TRUE(good.host_errors.empty()) << good.host_errors.front();
        ASSERT_FALSE(good.ops.empty()) << "the command calls the host";
        if (s.renders) {
            ASSERT_NE(good.pixels, blank) << "a successful run draws";
        }

        std::map<HostOp, int> seen;
        for (std::size_t k = 0; k < good.ops.size(); ++k) {
            const HostOp op = good.ops[k];
            const int nth = ++seen[op];
            SCOPED_TRACE(std::string(op_name(op)) + " call " + std::to_string(nth) + " (position " + std::to_string(k) +
                         ")");
            const Outcome got = run(s, std::make_pair(op, nth));
            // The calls before the failing one are those of the good run.
            ASSERT_GE(got.ops.size(), k + 1);
            EXPECT_TRUE(
                std::equal(good.ops.begin(), good.ops.begin() + static_cast<std::ptrdiff_t>(k) + 1, got.ops.begin()));
            check(s, good, blank, op, nth, got);
            ++injected;
            ++per_op[op_name(op)];
        }
    }
    std::printf("fault matrix: %d faults injected\n", injected);
    for (const auto& [name, n] : per_op)
        std::printf("  %-22s %d\n", name.c_str(), n);
    // Every operation the effect reaches took part.
    for (const char* op :
         {"AcquireSuite", "checkout_layer_pixels", "checkout_output", "checkout_param", "PF_GetPixelFormat",
          "checkin_param", "ReleaseSuite", "checkout_layer", "copy", "sprintf", "strcpy", "add_param", "registration"})
        EXPECT_GT(per_op[op], 0) << op;
}
