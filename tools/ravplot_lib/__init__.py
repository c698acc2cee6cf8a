"""ravplot's parts: reading reports and calibration files, correcting the
traces, writing FRD tables and drawing pictures."""
