"""Golden sort keys from a model written apart from the engine.

Prints one vector a line, fields separated by blanks, keys in hex:
  double <IEEE bits of the value> <key>
  int32 <value> <key>
  int64 <value> <key>
  date <CCYYMMDD> <day number> <key of the day number>
  parts <day number> <year> <month> <day>
  datetime <day number> <milliseconds> <key>

Day numbers are proleptic Gregorian ordinals plus 1721425. Date-time values
are computed as the x87 80-bit extended format would, with exact fractions
rounded to 64 significant bits after each step.
"""
import datetime
import random
import struct
from fractions import Fraction

BASE = 1721425
rng = random.Random(20240613)


def double_key(value):
    if value == 0:
        value = 0.0  # negative zero is zero
    raw = bytearray(struct.pack('>d', value))
    if struct.unpack('>Q', bytes(raw))[0] >> 63:
        raw = bytearray(b ^ 0xFF for b in raw)
    else:
        raw[0] = (raw[0] + 0x80) % 256
    return raw.hex()


def int_key(value, width):
    raw = bytearray(value.to_bytes(width, 'big', signed=True))
    raw[0] ^= 0x80
    return raw.hex()


def round_bits(x, bits):
    """x rounded to `bits` significant bits, ties to even."""
    if x == 0:
        return Fraction(0)
    sign = -1 if x < 0 else 1
    x = abs(x)
    e = x.numerator.bit_length() - x.denominator.bit_length()
    if Fraction(2) ** e > x:
        e -= 1
    scale = Fraction(2) ** (bits - 1 - e)
    scaled = x * scale
    whole = scaled.numerator // scaled.denominator
    rest = scaled - whole
    if rest > Fraction(1, 2) or (rest == Fraction(1, 2) and whole % 2 == 1):
        whole += 1
    return sign * Fraction(whole) / scale


def correction(bit):
    return 1 <= bit <= 86399 and 338 <= (91 * (bit - 1)) % 675 <= 513


def datetime_key(day, ms):
    r = ms % 1000 if ms >= 0 else -((-ms) % 1000)
    rounded = ms - r + (1000 if r >= 500 else 0)
    step = round_bits(Fraction(1, 86400000), 64)
    fraction = round_bits(rounded * step, 64)
    total = round_bits(day + fraction, 64)
    value = total.numerator / total.denominator  # correctly rounded to double
    if correction(rounded // 1000 + 1):
        bits = struct.unpack('<Q', struct.pack('<d', value))[0]
        low = bits & 0xFF
        if low:
            bits -= 1
        else:
            nxt = ((bits >> 8) - 1) & 0xFF
            bits = (bits & ~0xFFFF) | nxt << 8 | 0xFF
        value = struct.unpack('<d', struct.pack('<Q', bits))[0]
    return double_key(value)


def doubles():
    yield from [0.0, -0.0, 1.0, -1.0, 0.5, -0.5, 2.0 ** -1074, -(2.0 ** -1074),
                float('inf'), float('-inf'), 1.7976931348623157e308, -1.7976931348623157e308]
    for _ in range(300):
        yield rng.choice([-1, 1]) * rng.random() * 10 ** rng.randint(-300, 300)
    for _ in range(100):
        yield float(rng.randint(-10 ** 9, 10 ** 9))


def main():
    for v in doubles():
        print('double', '%016x' % struct.unpack('>Q', struct.pack('>d', v))[0], double_key(v))
    for v in [0, -1, 1, 2 ** 31 - 1, -2 ** 31] + [rng.randint(-2 ** 31, 2 ** 31 - 1) for _ in range(100)]:
        print('int32', v, int_key(v, 4))
    for v in [0, -1, 1, 2 ** 63 - 1, -2 ** 63] + [rng.randint(-2 ** 63, 2 ** 63 - 1) for _ in range(100)]:
        print('int64', v, int_key(v, 8))
    ordinals = [1, 365, 366, 59, 60, 61, 693595, 730119, 730120, 730179, 730180,
                datetime.date(9999, 12, 31).toordinal()]
    ordinals += [rng.randint(1, datetime.date(9999, 12, 31).toordinal()) for _ in range(400)]
    for o in ordinals:
        d = datetime.date.fromordinal(o)
        text = '%04d%02d%02d' % (d.year, d.month, d.day)
        print('date', text, o + BASE, double_key(float(o + BASE)))
        print('parts', o + BASE, d.year, d.month, d.day)
    edges = [0, 1, 499, 500, 999, 1000, 1499, 1500, 4500, 5000, 5499, 5500, 59999, 86399499, 86399500, 86399999]
    days = [BASE + 1, 2415021, 2440588, 2451545, 2460000, 2488070]
    for day in days:
        for ms in edges:
            print('datetime', day, ms, datetime_key(day, ms))
    for _ in range(600):
        day = rng.randint(2415021, 2488070)
        ms = rng.randint(0, 86399999)
        print('datetime', day, ms, datetime_key(day, ms))


main()
