Tire 205/55 R16, lateral force Fy [N] over slip angle [deg]
Rows: slip; columns: vertical load [N]

LOAD_CASE 1
0
2000;4000;6000
-10;-1850;-3400;-4700
0;20;35;50
10;1890;3450;4760
LOAD_CASE 2
 -2.5 
2000;4000;6000
-10;-1700;-3300;-4650
10;1950;3500;4800
