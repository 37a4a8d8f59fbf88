Morvex sample data: Aligning moment Mz [N m] over slip angle [deg]
Made by examples/make_examples from a published 205/60 R15 coefficient set with noise of standard deviation 0.8.
LOAD_CASE 1
0
2000;4000;6000;8000
-12.00;-4.86;-18.56;-33.31;-47.48
-11.40;-4.75;-19.11;-30.92;-42.66
-10.80;-4.43;-16.13;-26.70;-37.92
-10.20;-4.36;-14.00;-24.74;-29.82
-9.60;-3.71;-13.23;-18.73;-23.46
