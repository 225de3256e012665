#include "RtpInfoSessionSchedule.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(RtpInfoSessionScheduleTest, DueTimes)
{
    RtpInfoSessionSchedule schedule(8000, 0.003);
    uint32_t increment = 0;
    EXPECT_FALSE(schedule.hasStarted());
    EXPECT_DOUBLE_EQ(schedule.place(100.0, 0.0, &increment), 100.0) << "no duration: at once";
    EXPECT_EQ(increment, 0u);
    EXPECT_FALSE(schedule.hasStarted()) << "and it fixes nothing";

    EXPECT_DOUBLE_EQ(schedule.place(100.0, 0.02, &increment), 100.003);
    EXPECT_EQ(increment, 160u);
    EXPECT_DOUBLE_EQ(schedule.nextDue(), 100.023);
    // Read on time, or a little late: the timetable holds, and a late packet is due at once.
    EXPECT_DOUBLE_EQ(schedule.place(100.023, 0.02, &increment), 100.023);
    EXPECT_DOUBLE_EQ(schedule.place(100.150, 0.02, &increment), 100.043) << "150 ms late: catch up";
    EXPECT_NEAR(schedule.nextDue(), 100.063, 1e-9);
    // More than 200 ms late: the timetable starts again from now.
    EXPECT_NEAR(schedule.place(100.300, 0.02, &increment), 100.303, 1e-9);
    EXPECT_EQ(increment, 160u) << "the timestamps run on";
    EXPECT_NEAR(schedule.nextDue(), 100.323, 1e-9);
    EXPECT_NEAR(schedule.sentDuration(), 0.08, 1e-12);
}

// Increments are the rounded running sum: uneven durations neither lose nor gain samples, where
// truncating each product would fall behind by one sample almost every other packet.
TEST(RtpInfoSessionScheduleTest, IncrementsFollowTheRoundedSum)
{
    struct Row
    {
        int clockRate;
        double durations[2];
        uint32_t first, second;
    };
    const Row rows[] = {{8000, {0.0199, 0.0201}, 159, 161},
                        {8000, {0.02, 0.02}, 160, 160},
                        {44100, {1152.0 / 44100, 1152.0 / 44100}, 1152, 1152},
                        {44100, {220.0 / 44100, 220.0 / 44100}, 220, 220},
                        {44100, {0.026, 0.026}, 1147, 1146}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.clockRate);
        RtpInfoSessionSchedule schedule(row.clockRate, 0);
        uint64_t total = 0;
        double sum = 0;
        for (int i = 0; i < 10000; ++i) {
            uint32_t increment = 0;
            const double duration = row.durations[i % 2];
            schedule.place(1.0 + sum, duration, &increment);
            if (i < 2) {
                EXPECT_EQ(increment, i == 0 ? row.first : row.second);
            }
            total += increment;
            sum += duration;
        }
        EXPECT_EQ(total, uint64_t(std::llround(sum * row.clockRate)));
    }
}
