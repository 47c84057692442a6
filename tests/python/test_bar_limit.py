"""Bar indexes are 32-bit: a longer series is refused before anything is copied."""
import numpy as np
import pytest

import vlmstruct

TOO_MANY = 2**31  # one past the last bar count a 32-bit index can reach


def zero_stride(n):
    # n values that share one float of memory: no 8 GiB array is made.
    return np.lib.stride_tricks.as_strided(np.ones(1, dtype=np.float32), shape=(n,), strides=(0,))


@pytest.mark.parametrize("call", [
    lambda s: vlmstruct.turning_point(s, s),
    lambda s: vlmstruct.stroke(s, s),
    lambda s: vlmstruct.segment(s, s, s),
    lambda s: vlmstruct.pivot_run_count(s, s, s),
])
def test_more_bars_than_an_index_holds_are_a_value_error(call):
    with pytest.raises(ValueError, match="at most 2147483647 bars"):
        call(zero_stride(TOO_MANY))

