// Hints: what the program made of input that it could not take as it
// stands, said on standard error, so that standard output, which scripts
// read, stays as it always was.
#ifndef LARKHORN_APP_HINT_H_
#define LARKHORN_APP_HINT_H_

// The words each kind of hint holds, written once for the code that says
// it and the tests that look for it.
inline constexpr char kNotAFrequency[] =
    " is not a frequency: it plays 0 Hz, silence; ";
inline constexpr char kNotALength[] = " is not a length from ";
inline constexpr char kNotANoteName[] =
    " is not a note name, so it sounds as A";
inline constexpr char kNotANumber[] = " is not a number: the ";
inline constexpr char kNotAWholeNumber[] =
    " is not a whole number: the octave is ";
inline constexpr char kListDevicesHint[] =
    "larkhorn --list-devices lists the devices it can play on";
inline constexpr char kPlughwHint[] =
    "a card's plughw: device (as plughw:0,0) converts the tone to a format "
    "the card takes";
inline constexpr char kDeviceRateHint[] =
    "the tone is made at the device's rate, so it is in tune all the same";

// Prints the line on standard error, standard output flushed first so that
// a transcript of both streams is in the order things happened.
void Hint(const char* format, ...) __attribute__((format(printf, 1, 2)));

#endif  // LARKHORN_APP_HINT_H_
