Broken file: the third data row has a text where a number belongs
LOAD_CASE 1
0
2000;4000
-2;-900;-1600
0;0;0
abc;900;1600
